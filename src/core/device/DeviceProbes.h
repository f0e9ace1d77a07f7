#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace kv::portal {

// A few threads that ask newly found devices about themselves, so that neither discovery nor
// the product list waits on a device's answer. Threads start as work comes, up to the limit;
// jobs still queued when the pool goes are dropped, and the ones under way are finished.
class DeviceProbes {
public:
    explicit DeviceProbes(std::size_t threadLimit);
    ~DeviceProbes();
    DeviceProbes(const DeviceProbes&) = delete;
    DeviceProbes& operator=(const DeviceProbes&) = delete;

    void post(std::function<void()> job);

private:
    void work();

    const std::size_t threadLimit_;
    std::mutex mutex_;
    std::condition_variable wake_;
    // Guarded by mutex_.
    std::deque<std::function<void()>> jobs_;
    std::size_t idle_ = 0;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

} // namespace kv::portal
