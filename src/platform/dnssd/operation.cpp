#include "operation.h"

namespace kvdns_sd {

std::shared_ptr<operation> operation::create() {
    std::shared_ptr<operation> created(new operation());
    return created->ready_.valid() ? created : nullptr;
}

void operation::push(result next) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (cancelled_) {
        return;
    }
    if (queue_.empty()) {
        ready_.signal();
    }
    queue_.push_back(std::move(next));
    arrived_.notify_all();
}

void operation::deliver(DNSServiceRef ref) {
    std::deque<result> batch;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        arrived_.wait(lock, [this] { return !queue_.empty() || cancelled_; });
        batch.swap(queue_);
        ready_.clear();
    }
    while (!batch.empty() && !cancelled()) {
        const result next = std::move(batch.front());
        batch.pop_front();
        next(ref, batch.empty() ? 0 : kDNSServiceFlagsMoreComing);
    }
}

void operation::cancel() {
    std::deque<result> dropped;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        cancelled_ = true;
        dropped.swap(queue_);
        ready_.clear();
    }
    arrived_.notify_all();
}

bool operation::cancelled() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return cancelled_;
}

} // namespace kvdns_sd
