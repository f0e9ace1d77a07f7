#include "core/Core.h"
#include "core/sync/Sync.h"

namespace kv::portal {

// The whole request is made under the sync lock, so that callers on several threads agree on
// the one thread object. Waiting for a finished sync under that lock is safe: once the count of
// requests has reached 0, the sync thread never takes the lock again.
void Core::startSync() {
    std::lock_guard<std::recursive_mutex> lock(syncMutex_);
    if (syncRequests_ > 0) {
        // The running sync starts over before it matches, and so serves this request too.
        ++syncRequests_;
        return;
    }
    if (syncThread_ && syncThread_->joinable()) {
        syncThread_->join();
    }
    syncThread_ = std::make_unique<std::thread>([this] { Sync::runSync(*this); });
    syncRequests_ = 1;
}

} // namespace kv::portal
