#include "core/Core.h"
#include "core/workers/DequeProcess.h"

namespace kv::portal {

void Core::requestUpdate(const ProductPtr& product) {
    // As with downloads: a request for a queued product would be dropped, its status kept.
    if (!product || updateProcess_->find(product->name)) {
        return;
    }
    setStatus(product, PendingUpdate);
    updateProcess_->enqueue(product);
}

void Core::countUpdates(int& firmware, int& software, int& total) {
    firmware = 0;
    software = 0;
    std::lock_guard<std::recursive_mutex> lock(productsMutex_);
    for (const ProductPtr& product : products_) {
        if (product->isUpdateAvailable()) {
            ++(product->isFirmware() ? firmware : software);
        }
    }
    total = firmware + software;
}

} // namespace kv::portal
