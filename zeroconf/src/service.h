#pragma once

#include <functional>

namespace zeroconf {

// A service of the program's own announced on the network; dropping the last reference
// withdraws it.
class service {
public:
    enum state_value : int { unknown = 0, failed = 1, name_collision = 2, registered = 3 };
    // Called on the client's poll thread with each new state.
    using state_function = std::function<void(int)>;

    virtual ~service() = default;
    service(const service&) = delete;
    service& operator=(const service&) = delete;

    // unknown until the DNS-SD service has answered.
    virtual int state() const = 0;

protected:
    service() = default;
};

} // namespace zeroconf
