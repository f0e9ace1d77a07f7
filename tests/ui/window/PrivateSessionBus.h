#pragma once

#include "TempDir.h"

#include <sys/types.h>

#include <string>

namespace kv::test {

// A D-Bus session bus of the test's own, so that nothing reaches the desktop's bus; the
// daemon ends with this object.
class PrivateSessionBus {
public:
    PrivateSessionBus();
    ~PrivateSessionBus();
    PrivateSessionBus(const PrivateSessionBus&) = delete;
    PrivateSessionBus& operator=(const PrivateSessionBus&) = delete;

    const std::string& address() const { return address_; }

private:
    TempDir folder_;
    std::string address_;
    pid_t pid_ = -1;
};

} // namespace kv::test
