#include "core/workers/DequeProcess.h"

#include "ru_rod.h"

#include <algorithm>

namespace kv::portal {

Core::DequeProcess::DequeProcess(Core& core, const char* name) : core_(core), name_(name) {}

Core::DequeProcess::~DequeProcess() {
    stop();
}

void Core::DequeProcess::enqueue(const ProductPtr& product) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    if (find(product->name)) {
        return;
    }
    if (worker_) {
        if (workerActive_) {
            queue_.push_back(product);
            size_ = queue_.size();
            return;
        }
        worker_->join();
        worker_.reset();
    }
    queue_.push_back(product);
    size_ = queue_.size();
    workerActive_ = true;
    worker_ = std::make_unique<std::thread>([this] { run(); });
}

ProductPtr Core::DequeProcess::find(const std::string& name) const {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    const auto found = std::find_if(queue_.begin(), queue_.end(),
                                    [&](const ProductPtr& queued) { return queued->name == name; });
    return found != queue_.end() ? *found : nullptr;
}

bool Core::DequeProcess::remove(const std::string& name) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    const size_t before = queue_.size();
    queue_.erase(std::remove_if(queue_.begin(), queue_.end(),
                                [&](const ProductPtr& queued) { return queued->name == name; }),
                 queue_.end());
    size_ = queue_.size();
    return queue_.size() != before;
}

std::deque<ProductPtr> Core::DequeProcess::clear() {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    std::deque<ProductPtr> cleared;
    cleared.swap(queue_);
    size_ = 0;
    return cleared;
}

void Core::DequeProcess::stop() {
    std::unique_ptr<std::thread> worker;
    {
        std::lock_guard<std::recursive_mutex> guard(lock_);
        queue_.clear();
        size_ = 0;
        worker = std::move(worker_);
    }
    if (worker && worker->joinable()) {
        worker->join();
    }
}

bool Core::DequeProcess::waitUntilIdle(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock<std::recursive_mutex> guard(lock_);
    return ranDry_.wait_until(guard, deadline, [this] { return !workerActive_; });
}

void Core::DequeProcess::run() {
    std::unique_lock<std::recursive_mutex> guard(lock_);
    for (;;) {
        if (queue_.empty()) {
            KV_LOG(6, "The %s queue is empty. Thread will exit\n", name_);
            workerActive_ = false;
            ranDry_.notify_all();
            guard.unlock();
            finished();
            return;
        }
        ProductPtr product = queue_.front();
        KV_LOG(6, "Next in %s queue: %s %s\n", name_, product->code, product->name.c_str());
        guard.unlock();

        process(product);

        guard.lock();
        // A cancel during processing may have put another product at the front.
        if (!queue_.empty() && queue_.front() == product) {
            queue_.pop_front();
            size_ = queue_.size();
        }
        guard.unlock();
        done(product);
        product.reset();
        guard.lock();
    }
}

} // namespace kv::portal
