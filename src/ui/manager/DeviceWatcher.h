#pragma once

#include "core/Product.h"

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kv::portal {

class Manager;

// Probes every discovered device over HTTP every five seconds on a thread of its own: a device
// that stops answering leaves the core at once, even while its DNS-SD record is still cached,
// and one that answers again after that brings a full refresh.
class DeviceWatcher {
public:
    explicit DeviceWatcher(Manager* owner) : owner_(owner) {}
    ~DeviceWatcher();
    DeviceWatcher(const DeviceWatcher&) = delete;
    DeviceWatcher& operator=(const DeviceWatcher&) = delete;

    // Watches the product unless one of the same name is watched; starts the loop when none
    // runs.
    void add(ProductPtr product);
    // Returns how many products are left to watch.
    std::size_t remove(const std::string& name);
    // Forgets every product and waits for the loop to end. The loop never waits for a DNS-SD
    // thread, so a listener may call this.
    void stop();

private:
    void watchLoop();
    // The loop ends when it is stopped or has nothing left to watch.
    bool loopShouldEnd();

    Manager* const owner_;

    // Guards the thread object only; taken before `mutex_` when both are needed.
    std::mutex threadMutex_;
    std::unique_ptr<std::thread> thread_;

    std::recursive_mutex mutex_;
    std::vector<ProductPtr> items_;
    bool stopping_ = false;
    // Set by the loop when it has ended by itself; its thread is then joined by the next start.
    bool loopEnded_ = false;
    std::condition_variable_any wake_;
};

} // namespace kv::portal
