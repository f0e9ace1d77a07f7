#pragma once

#include "log.h"

#include <exception>
#include <string>

namespace zeroconf {

// Runs the body of a reply callback, which the DNS-SD library calls: no exception may cross its
// frames. A failure is logged, then handled by on_failure.
template <typename Body, typename Failure>
void guard_reply(const char* reply, Body body, Failure on_failure) noexcept {
    try {
        body();
        return;
    } catch (const std::exception& error) {
        ZEROCONF_LOG(3, "%s: runtime error %s\n", reply, error.what());
    } catch (...) {
        ZEROCONF_LOG(3, "%s: runtime error %s\n", reply, "Unknown exception");
    }
    on_failure();
}

template <typename Body>
void guard_reply(const char* reply, Body body) noexcept {
    guard_reply(reply, body, [] {});
}

// The DNS-SD library passes null texts with some errors.
inline std::string text_or_empty(const char* text) {
    return text != nullptr ? text : "";
}

} // namespace zeroconf
