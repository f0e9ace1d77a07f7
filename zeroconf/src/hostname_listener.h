#pragma once

#include <cstdint>
#include <string>

namespace zeroconf {

// Told about the addresses of a followed host name; called on the client's poll thread.
class hostname_listener {
public:
    virtual ~hostname_listener() = default;

    // The address as dotted-quad text, empty when the answer is not IPv4.
    virtual void on_hostname_resolved(std::uint32_t interface_index, const std::string& hostname,
                                      const std::string& address) = 0;

    virtual void on_hostname_removed(std::uint32_t interface_index,
                                     const std::string& hostname) = 0;
};

} // namespace zeroconf
