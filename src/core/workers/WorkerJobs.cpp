#include "core/device/DeviceInterface.h"
#include "core/download/Downloads.h"
#include "core/update/ReturnChecks.h"
#include "core/update/Updater.h"
#include "core/workers/DequeProcess.h"

namespace kv::portal {

namespace {

// The installer has started a restart of the computer.
constexpr int32_t kInstallerRestarting = 1641;

} // namespace

void Core::DownloadProcess::process(const ProductPtr& product) {
    Downloads::process(core_, product);
}

void Core::DownloadProcess::done(const ProductPtr& product) {
    core_.removeIfGone(product);
}

void Core::UpdateProcess::process(const ProductPtr& product) {
    if (Updater::updateProduct(core_, product) == kInstallerRestarting) {
        // The jobs dropped for the computer's restart leave no pending status behind.
        std::deque<ProductPtr> dropped = core_.downloadProcess_->clear();
        for (ProductPtr& queued : clear()) {
            dropped.push_back(std::move(queued));
        }
        for (const ProductPtr& queued : dropped) {
            if (queued != product) {
                core_.setStatus(queued, Evaluate);
            }
        }
    }
}

void Core::UpdateProcess::done(const ProductPtr& product) {
    core_.removeIfGone(product);
}

void Core::RebootProcess::process(const ProductPtr& product) {
    // Ends early once the core stops, or forgets a device whose return nothing awaits.
    DeviceInterface::awaitReturn(core_, product, [this, &product] {
        return front() == product && (core_.findProduct(product->name) == product ||
                                      core_.returnChecks_->awaited(product->name));
    });
}

bool Core::isDownloading() const {
    return !downloadProcess_->empty();
}

bool Core::isUpdating() const {
    return !updateProcess_->empty();
}

bool Core::hasJob(const std::string& name) const {
    return downloadProcess_->find(name) || updateProcess_->find(name) || rebootProcess_->find(name);
}

} // namespace kv::portal
