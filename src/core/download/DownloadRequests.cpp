#include "core/Core.h"
#include "core/workers/DequeProcess.h"

namespace kv::portal {

namespace {

constexpr int32_t kUnverified = -11;
// An agreement is a page of text, read into memory and shown whole.
constexpr std::size_t kAgreementSizeLimit = 1024 * 1024;

} // namespace

void Core::requestDownload(const std::string& name) {
    const ProductPtr product = findProduct(name);
    if (!product) {
        return;
    }
    if (!createDownloadDirectories()) {
        product->errorCode = kUnverified;
        setStatus(product, DownloadError);
        return;
    }
    // Queued already, perhaps still at the front while its worker finishes it: a new request
    // would be dropped and leave the status pending for good.
    if (downloadProcess_->find(name)) {
        return;
    }
    setStatus(product, PendingDownload);
    downloadProcess_->enqueue(product);
}

// A download in progress notices at its next progress report and stops.
void Core::cancel(const std::string& name) {
    if (downloadProcess_->remove(name) || updateProcess_->remove(name)) {
        setStatus(findProduct(name), Evaluate);
    }
}

std::string Core::downloadErrorText(int32_t errorCode) {
    if (errorCode == kUnverified) {
        return "Cannot verify downloaded file integrity";
    }
    if (errorCode < 1) {
        return "Unexpected Error";
    }
    return kvcurl::errorText(errorCode);
}

bool Core::fetchAgreement(const ProductPtr& product, std::string& text,
                          const kvcurl::ProgressFunction& progress) {
    const Product::CloudPtr release = product ? product->cloud.get() : nullptr;
    if (!release || release->agreementLink.empty()) {
        return false;
    }
    return kvcurl::fetch(release->agreementLink, text, progress, kAgreementSizeLimit) == 0;
}

} // namespace kv::portal
