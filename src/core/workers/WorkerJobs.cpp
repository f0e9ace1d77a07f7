#include "core/download/Downloads.h"
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
        core_.downloadProcess_->clear();
        clear();
    }
}

void Core::UpdateProcess::done(const ProductPtr& product) {
    core_.removeIfGone(product);
}

bool Core::isDownloading() const {
    return !downloadProcess_->empty();
}

bool Core::isUpdating() const {
    return !updateProcess_->empty();
}

bool Core::hasJob(const std::string& name) const {
    return downloadProcess_->find(name) || updateProcess_->find(name);
}

} // namespace kv::portal
