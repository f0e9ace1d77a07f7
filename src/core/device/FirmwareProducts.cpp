#include "core/Core.h"

namespace kv::portal {

void Core::removeFirmwareProducts() {
    std::vector<std::string> names;
    {
        std::lock_guard<std::recursive_mutex> lock(productsMutex_);
        for (const ProductPtr& product : products_) {
            if (product->isFirmware()) {
                names.push_back(product->name);
            }
        }
    }
    for (const std::string& name : names) {
        removeProduct(name);
    }
}

} // namespace kv::portal
