#pragma once

#include <cstdint>
#include <memory>

namespace zeroconf {

class bonjour_resolver;

// The bookkeeping of one resolve. It holds the resolver, which holds it: the resolve lives until
// its context is destroyed, and destroying it ends the resolve.
class resolver_context {
public:
    explicit resolver_context(std::shared_ptr<bonjour_resolver> resolving);
    ~resolver_context();
    resolver_context(const resolver_context&) = delete;
    resolver_context& operator=(const resolver_context&) = delete;

    // Monotonic nanoseconds when the last DNS-SD call for this resolve started.
    std::int64_t started_at = 0;
    bool started = false;

private:
    const std::shared_ptr<bonjour_resolver> resolver;
};

} // namespace zeroconf
