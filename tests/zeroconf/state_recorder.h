#pragma once

#include "recording_listeners.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

namespace zeroconf_test {

// Collects the states a registered service reports. It must outlive the service's client.
class state_recorder {
public:
    std::function<void(int)> callback() {
        // Notifies under the lock: a waiter that wakes may destroy the recorder at once.
        return [this](int state) {
            std::lock_guard<std::mutex> lock(mutex_);
            states_.push_back(state);
            changed_.notify_all();
        };
    }

    bool wait_states(std::size_t count) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, kDeadline, [&] { return states_.size() >= count; });
    }

    std::vector<int> states() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return states_;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<int> states_;
};

} // namespace zeroconf_test
