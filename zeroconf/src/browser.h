#pragma once

#include "browser_listener.h"

#include <memory>

namespace zeroconf {

// A running browse; dropping the last reference ends it.
class browser {
public:
    virtual ~browser() = default;
    browser(const browser&) = delete;
    browser& operator=(const browser&) = delete;

protected:
    explicit browser(std::shared_ptr<browser_listener> told) : listener(std::move(told)) {}

    const std::shared_ptr<browser_listener> listener;
};

} // namespace zeroconf
