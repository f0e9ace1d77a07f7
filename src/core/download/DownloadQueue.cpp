#include "core/download/DownloadQueue.h"

#include "core/download/PackageDigests.h"
#include "core/workers/DequeProcess.h"
#include "platform/PathSeparator.h"

namespace kv::portal {

DownloadQueue::DownloadQueue(Core& core) : core_(core) {
    createDownloadDirectories();
    const std::string folder = downloadsDir();
    digests_ = std::make_unique<PackageDigests>(
        folder.empty() ? std::string() : folder + platform::kPathSeparator + "package-digests.txt");
    worker_ = std::make_unique<Core::DownloadProcess>(core, *this);
}

DownloadQueue::~DownloadQueue() {
    stop();
}

std::string DownloadQueue::downloadPath(const ProductPtr& product, bool includeFile) const {
    return product ? product->downloadPath(downloadsDir(), includeFile) : std::string();
}

void DownloadQueue::request(const ProductPtr& product) {
    // Queued already, perhaps still at the front while its worker finishes it: a new request
    // would be dropped and leave the status pending for good.
    if (worker_->find(product->name)) {
        return;
    }
    core_.setStatus(product, PendingDownload);
    worker_->enqueue(product);
}

bool DownloadQueue::cancel(const std::string& name) {
    return worker_->remove(name);
}

ProductPtr DownloadQueue::find(const std::string& name) const {
    return worker_->find(name);
}

std::deque<ProductPtr> DownloadQueue::clear() {
    return worker_->clear();
}

bool DownloadQueue::busy() const {
    return !worker_->empty();
}

void DownloadQueue::stop() {
    worker_->stop();
}

bool DownloadQueue::working() const {
    return worker_->working();
}

bool DownloadQueue::waitUntilIdle(std::chrono::steady_clock::time_point deadline) {
    return worker_->waitUntilIdle(deadline);
}

std::recursive_mutex& DownloadQueue::lock() const {
    return worker_->lock();
}

} // namespace kv::portal
