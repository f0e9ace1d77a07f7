#include "core/sync/CatalogueSync.h"

#include "core/json/JsonDocument.h"

#include <algorithm>

namespace kv::portal {

CatalogueSync::CatalogueSync(Core& core, ProductList& products, StatusFileWriter& statusFile)
    : core_(core), products_(products), statusFile_(statusFile) {}

CatalogueSync::~CatalogueSync() {
    std::unique_ptr<std::thread> thread;
    {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        thread = std::move(thread_);
    }
    if (thread && thread->joinable()) {
        thread->join();
    }
}

// The whole request is made under the sync lock, so that callers on several threads agree on
// the one thread object. A running sync serves the request by starting over, before matching or
// after it, so that no caller (the interface thread, for every device that appears) waits for a
// sync. Requests beyond the one pass that follows fold into it: every device of a burst asks.
// Joining a sync that has ended under that lock is safe: it never takes the lock again.
void CatalogueSync::start() {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (running_) {
        requests_ = std::min(requests_ + 1, 2);
        return;
    }
    if (thread_ && thread_->joinable()) {
        thread_->join();
    }
    thread_ = std::make_unique<std::thread>([this] { run(); });
    running_ = true;
    requests_ = 1;
}

bool CatalogueSync::waitUntilIdle(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock<std::recursive_mutex> lock(mutex_);
    return ended_.wait_until(lock, deadline, [this] { return !running_; });
}

bool CatalogueSync::running() {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return running_;
}

bool CatalogueSync::requestsRemain() {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return --requests_ > 0;
}

bool CatalogueSync::syncEnds() {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (requests_ > 0) {
        // However many came in, the pass that follows serves them all.
        requests_ = 1;
        return false;
    }
    running_ = false;
    ended_.notify_all();
    return true;
}

} // namespace kv::portal
