#pragma once

#include "ui/window/Window.h"

#include <QObject>
#include <QPixmap>
#include <QTimer>

#include <atomic>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace zeroconf {
class browser;
}

namespace kv::portal {

class Core;
class DeviceWatcher;

// Ties the program together: owns the core, turns DNS-SD services into its device products,
// optionally watches the devices over HTTP, and serves the window its pictures and File >
// Refresh. Created, started, refreshed and destroyed on the interface thread.
class Manager : public Window::ICallbacks {
public:
    class BrowserListener;
    class ListenerLink;

    Manager();
    ~Manager() override;
    Manager(const Manager&) = delete;
    Manager& operator=(const Manager&) = delete;

    // The applications, a sync, and a new DNS-SD client with its three browsers.
    void start();

    QPixmap* productPixmap(const char* productCode) override;
    QPixmap* themePixmap(const char* imageName, int width, int height) override;
    const char* selectedUid() override;
    void refresh() override;

    // Any thread: runs `refresh` on the interface thread; requests made before it has run are
    // served by that one run.
    void requestRefresh();

    void setUid(const std::string& uid) { uid_ = uid; }
    Core* core() const { return core_.get(); }
    // Present only when the setting "zeroconf_ext" is 1.
    DeviceWatcher* watcher() const { return watcher_.get(); }

private:
    std::unique_ptr<Core> core_;
    std::vector<std::shared_ptr<zeroconf::browser>> browsers_;
    std::map<std::string, std::unique_ptr<QPixmap>> lightPixmaps_;
    std::map<std::string, std::unique_ptr<QPixmap>> darkPixmaps_;
    std::string uid_;
    std::unique_ptr<DeviceWatcher> watcher_;

    // Shared with every browser listener, so that a reply still on its way when the manager
    // goes finds it gone.
    std::shared_ptr<ListenerLink> link_;
    // Lives on the interface thread and runs the posted refresh; its end drops one that has not
    // run yet.
    std::unique_ptr<QTimer> refreshTarget_;
    std::atomic<bool> refreshPosted_{false};
};

} // namespace kv::portal
