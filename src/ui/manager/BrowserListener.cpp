#include "ui/manager/BrowserListener.h"

#include "core/Core.h"
#include "ui/manager/DeviceWatcher.h"

namespace kv::portal {

void Manager::BrowserListener::on_service_resolved(std::uint32_t, const std::string& name,
                                                   const std::string&, const std::string&,
                                                   const std::string& address, std::uint16_t,
                                                   const std::vector<std::string>& txt) {
    link_->withManager([&](Manager& manager) {
        if (!manager.core()->addDevice(name, address, txt) || !manager.watcher()) {
            return;
        }
        if (ProductPtr product = manager.core()->findProduct(name)) {
            manager.watcher()->add(std::move(product));
        }
    });
}

void Manager::BrowserListener::on_service_removed(std::uint32_t, const std::string& name,
                                                  const std::string&) {
    link_->withManager([&](Manager& manager) {
        manager.core()->removeDevice(name);
        if (manager.watcher() && manager.watcher()->remove(name) == 0) {
            manager.watcher()->stop();
        }
    });
}

} // namespace kv::portal
