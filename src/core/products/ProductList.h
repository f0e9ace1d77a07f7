#pragma once

#include "core/Core.h"

#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace kv::portal {

// The core's products and the observers that hear of them. Products and listeners have a lock
// each; listeners are told only with the products lock released, because a listener called
// from a status change on another thread holds the listeners lock and looks products up.
class ProductList {
public:
    // `owner` is what listeners are told the events come from.
    explicit ProductList(Core* owner) : owner_(owner) {}
    ProductList(const ProductList&) = delete;
    ProductList& operator=(const ProductList&) = delete;

    void addListener(Core::Listener* listener);
    void removeListener(Core::Listener* listener);
    // Calls every listener in registration order under the listeners lock.
    void notify(const std::function<void(Core::Listener&)>& call);

    // Adds a product, and its family's companion application, or counts one more announcement
    // of each that is listed already; tells the listeners of the new ones. Returns the new ones.
    std::vector<ProductPtr> add(ProductCode code, const std::string& name,
                                const std::string& address, const Version& version);
    // Takes the product of that name off the list and tells the listeners; false when unknown.
    bool remove(const std::string& name);
    // Gives a listed device what its probe found; false when it left meanwhile.
    bool setProbed(const ProductPtr& product, const std::string& serial, const ProductPtr& twin);

    // A product or a listed product's twin.
    ProductPtr find(const std::string& name) const;
    ProductPtr findByCode(ProductCode code) const;
    void forEach(const std::function<bool(const ProductPtr&)>& callback) const;
    // The listed products, twins left out.
    std::vector<ProductPtr> snapshot() const;
    // Runs `use` with the list held still.
    void whileLocked(const std::function<void(const std::vector<ProductPtr>&)>& use) const;

private:
    void addLocked(ProductCode code, const std::string& name, const std::string& address,
                   const Version& version, std::vector<ProductPtr>& added);

    Core* const owner_;
    mutable std::recursive_mutex productsMutex_;
    // Guarded by productsMutex_.
    std::vector<ProductPtr> products_;
    std::recursive_mutex listenersMutex_;
    // Guarded by listenersMutex_.
    std::vector<Core::Listener*> listeners_;
};

} // namespace kv::portal
