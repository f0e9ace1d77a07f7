#pragma once

#include "hostname_listener.h"

#include <memory>

namespace zeroconf {

// Follows the IPv4 address of a host name; dropping the last reference ends it.
class hostname_browser {
public:
    virtual ~hostname_browser() = default;
    hostname_browser(const hostname_browser&) = delete;
    hostname_browser& operator=(const hostname_browser&) = delete;

protected:
    explicit hostname_browser(std::shared_ptr<hostname_listener> told)
        : listener(std::move(told)) {}

    const std::shared_ptr<hostname_listener> listener;
};

} // namespace zeroconf
