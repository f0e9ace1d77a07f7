#include "core/Core.h"
#include "core/sync/Sync.h"

#include <algorithm>

namespace kv::portal {

// The whole request is made under the sync lock, so that callers on several threads agree on
// the one thread object. A running sync serves the request by starting over, before matching or
// after it, so that no caller (the interface thread, for every device that appears) waits for a
// sync. Requests beyond the one pass that follows fold into it: every device of a burst asks.
// Joining a sync that has ended under that lock is safe: it never takes the lock again.
void Core::startSync() {
    std::lock_guard<std::recursive_mutex> lock(syncMutex_);
    if (syncRunning_) {
        syncRequests_ = std::min(syncRequests_ + 1, 2);
        return;
    }
    if (syncThread_ && syncThread_->joinable()) {
        syncThread_->join();
    }
    syncThread_ = std::make_unique<std::thread>([this] { Sync::runSync(*this); });
    syncRunning_ = true;
    syncRequests_ = 1;
}

} // namespace kv::portal
