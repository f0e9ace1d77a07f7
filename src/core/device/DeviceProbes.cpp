#include "core/device/DeviceProbes.h"

#include <utility>

namespace kv::portal {

DeviceProbes::DeviceProbes(std::size_t threadLimit) : threadLimit_(threadLimit) {}

DeviceProbes::~DeviceProbes() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        jobs_.clear();
    }
    wake_.notify_all();
    for (std::thread& thread : threads_) {
        thread.join();
    }
}

void DeviceProbes::post(std::function<void()> job) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        jobs_.push_back(std::move(job));
        if (idle_ < jobs_.size() && threads_.size() < threadLimit_) {
            threads_.emplace_back([this] { work(); });
        }
    }
    wake_.notify_one();
}

void DeviceProbes::work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        ++idle_;
        wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
        --idle_;
        if (stopping_) {
            return;
        }
        std::function<void()> job = std::move(jobs_.front());
        jobs_.pop_front();
        lock.unlock();
        job();
        lock.lock();
    }
}

} // namespace kv::portal
