#include "core/update/UpdateQueue.h"

#include "core/ResultCodes.h"
#include "core/device/DeviceInterface.h"
#include "core/download/DownloadQueue.h"
#include "core/workers/DequeProcess.h"

namespace kv::portal {

UpdateQueue::UpdateQueue(Core& core, DownloadQueue& downloads)
    : core_(core), downloads_(downloads),
      worker_(std::make_unique<Core::UpdateProcess>(core, *this)),
      reboots_(std::make_unique<Core::RebootProcess>(core, *this)),
      uploader_(core, [this](const ProductPtr& product) { reboots_->enqueue(product); }) {}

UpdateQueue::~UpdateQueue() {
    stop();
}

void UpdateQueue::request(const ProductPtr& product) {
    // As with downloads: a request for a queued product would be dropped, its status kept.
    if (!product || worker_->find(product->name)) {
        return;
    }
    core_.setStatus(product, PendingUpdate);
    worker_->enqueue(product);
}

bool UpdateQueue::cancel(const std::string& name) {
    return worker_->remove(name);
}

ProductPtr UpdateQueue::find(const std::string& name) const {
    return worker_->find(name);
}

bool UpdateQueue::hasJob(const std::string& name) const {
    return worker_->find(name) || reboots_->find(name);
}

bool UpdateQueue::busy() const {
    return !worker_->empty();
}

void UpdateQueue::stop() {
    worker_->stop();
    // Last: the update worker hands it the devices it rebooted.
    reboots_->stop();
}

bool UpdateQueue::working() const {
    return worker_->working() || reboots_->working();
}

bool UpdateQueue::waitUntilIdle(std::chrono::steady_clock::time_point deadline) {
    return worker_->waitUntilIdle(deadline) && reboots_->waitUntilIdle(deadline);
}

std::recursive_mutex& UpdateQueue::lock() const {
    return worker_->lock();
}

void UpdateQueue::process(const ProductPtr& product) {
    if (updateProduct(product) != result::kInstallerRestarting) {
        return;
    }
    // The jobs dropped for the computer's restart leave no pending status behind.
    std::deque<ProductPtr> dropped = downloads_.clear();
    for (ProductPtr& queued : worker_->clear()) {
        dropped.push_back(std::move(queued));
    }
    for (const ProductPtr& queued : dropped) {
        if (queued != product) {
            core_.setStatus(queued, Evaluate);
        }
    }
}

void UpdateQueue::awaitReboot(const ProductPtr& product) {
    // Ends early once the core stops, or forgets a device whose return nothing awaits.
    const ReturnOutcome outcome = awaitReturn(product, [this, &product] {
        return reboots_->front() == product && (core_.findProduct(product->name) == product ||
                                                returnChecks_.awaited(product->name));
    });
    if (outcome == ReturnOutcome::Back) {
        deviceBack(product, product->version.get());
    } else if (outcome == ReturnOutcome::NotBack) {
        if (const std::optional<HistoryEntry> entry = returnChecks_.notBack(product->name)) {
            record(*entry);
        }
    }
    // A device that left meanwhile is added anew when it comes back, and settled then.
    if (outcome != ReturnOutcome::Abandoned && product->status == DeviceRebooting &&
        core_.findProduct(product->name) == product) {
        core_.setStatus(product, Evaluate);
    }
}

} // namespace kv::portal
