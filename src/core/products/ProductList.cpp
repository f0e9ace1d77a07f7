#include "core/products/ProductList.h"

#include "ru_rod.h"

#include <algorithm>

namespace kv::portal {

void ProductList::addListener(Core::Listener* listener) {
    std::lock_guard<std::recursive_mutex> lock(listenersMutex_);
    if (std::find(listeners_.begin(), listeners_.end(), listener) == listeners_.end()) {
        listeners_.push_back(listener);
    }
}

void ProductList::removeListener(Core::Listener* listener) {
    std::lock_guard<std::recursive_mutex> lock(listenersMutex_);
    listeners_.erase(std::remove(listeners_.begin(), listeners_.end(), listener), listeners_.end());
}

// By index: a listener may register or unregister listeners while it is being called.
void ProductList::notify(const std::function<void(Core::Listener&)>& call) {
    std::lock_guard<std::recursive_mutex> lock(listenersMutex_);
    for (size_t i = 0; i < listeners_.size(); ++i) {
        call(*listeners_[i]);
    }
}

std::vector<ProductPtr> ProductList::add(ProductCode code, const std::string& name,
                                         const std::string& address, const Version& version) {
    std::vector<ProductPtr> added;
    {
        std::lock_guard<std::recursive_mutex> lock(productsMutex_);
        addLocked(code, name, address, version, added);
    }
    for (const ProductPtr& product : added) {
        std::lock_guard<std::recursive_mutex> lock(listenersMutex_);
        // A product removed meanwhile was never shown, so it is not announced either.
        if (find(product->name) != product) {
            continue;
        }
        notify([&](Core::Listener& listener) { listener.productAdded(owner_, product); });
        KV_LOG(6, "Product added: (%s, %s, %s, %s)\n", product->code, product->name.c_str(),
               product->address.get().c_str(), versionText(product->version.get()).c_str());
    }
    return added;
}

void ProductList::addLocked(ProductCode code, const std::string& name, const std::string& address,
                            const Version& version, std::vector<ProductPtr>& added) {
    if (ProductPtr known = find(name)) {
        ++known->presenceCount;
    } else {
        auto product = std::make_shared<Product>(code, name, address, version);
        products_.push_back(product);
        added.push_back(product);
    }
    if (const ProductCode companion = companionCode(code)) {
        addLocked(companion, applicationName(companion), {}, Version(), added);
    }
}

bool ProductList::remove(const std::string& name) {
    ProductPtr removed;
    {
        std::lock_guard<std::recursive_mutex> lock(productsMutex_);
        const auto found = std::find_if(products_.begin(), products_.end(),
                                        [&](const ProductPtr& p) { return p->name == name; });
        if (found == products_.end()) {
            return false;
        }
        removed = *found;
        products_.erase(found);
    }
    std::lock_guard<std::recursive_mutex> lock(listenersMutex_);
    notify([&](Core::Listener& listener) { listener.productRemoved(owner_, removed); });
    KV_LOG(6, "Product removed: (%s)\n", name.c_str());
    return true;
}

bool ProductList::setProbed(const ProductPtr& product, const std::string& serial,
                            const ProductPtr& twin) {
    {
        std::lock_guard<std::recursive_mutex> lock(productsMutex_);
        if (std::find(products_.begin(), products_.end(), product) == products_.end()) {
            return false;
        }
        product->serial.set(serial);
        if (twin) {
            twin->serial.set(serial);
            product->running = !twin->running;
            product->twin.set(twin);
        }
    }
    std::lock_guard<std::recursive_mutex> lock(listenersMutex_);
    if (find(product->name) != product) {
        return false;
    }
    notify([&](Core::Listener& listener) { listener.productProbed(owner_, product); });
    return true;
}

ProductPtr ProductList::find(const std::string& name) const {
    std::lock_guard<std::recursive_mutex> lock(productsMutex_);
    for (const ProductPtr& product : products_) {
        if (product->name == name) {
            return product;
        }
        if (ProductPtr twin = product->twin.get(); twin && twin->name == name) {
            return twin;
        }
    }
    return nullptr;
}

ProductPtr ProductList::findByCode(ProductCode code) const {
    std::lock_guard<std::recursive_mutex> lock(productsMutex_);
    for (const ProductPtr& product : products_) {
        if (product->code == code) {
            return product;
        }
    }
    return nullptr;
}

void ProductList::forEach(const std::function<bool(const ProductPtr&)>& callback) const {
    std::lock_guard<std::recursive_mutex> lock(productsMutex_);
    for (const ProductPtr& product : products_) {
        if (!callback(product)) {
            break;
        }
    }
}

std::vector<ProductPtr> ProductList::snapshot() const {
    std::lock_guard<std::recursive_mutex> lock(productsMutex_);
    return products_;
}

void ProductList::whileLocked(
    const std::function<void(const std::vector<ProductPtr>&)>& use) const {
    std::lock_guard<std::recursive_mutex> lock(productsMutex_);
    use(products_);
}

} // namespace kv::portal
