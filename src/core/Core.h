#pragma once

#include "core/DeviceNames.h"
#include "core/IProxy.h"
#include "core/Product.h"
#include "core/update/UpdateHistory.h"
#include "kvcurl/kvcurl.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kv::portal {

class CatalogueSync;
class DeviceProbes;
class DownloadQueue;
class ProductList;
class StatusFileWriter;
class UpdateQueue;

// The engine behind the window. It owns its parts, each with its own state and lock: the
// product list with its listeners (products/ProductList.h), the download queue with the
// downloads folder (download/DownloadQueue.h), the status file (statusfile/StatusFileWriter.h),
// the update queue with the firmware uploader and the reboot watch (update/UpdateQueue.h), the
// catalogue sync (sync/CatalogueSync.h) and the device probes (device/DeviceProbes.h).
class Core {
public:
    // Observers are called on the thread that caused the event, with the listeners lock held;
    // an observer that touches the interface hands the work over to the interface thread.
    class Listener {
    public:
        virtual ~Listener() = default;
        virtual void productAdded(Core*, ProductPtr) {}
        virtual void productRemoved(Core*, ProductPtr) {}
        // A listed device answered its probe: its serial and its Dante twin, if any, are set.
        virtual void productProbed(Core*, ProductPtr) {}
        virtual void syncStarted(Core*) {}
        virtual void syncFinished(Core*, const std::string& /*message*/) {}
        virtual void downloadProgress(Core*, const char* /*productName*/, const char* /*fileName*/,
                                      const float& /*fraction*/) {}
        virtual void updateProgress(Core*, const char* /*productName*/, int /*state*/,
                                    const char* /*text*/, int /*percent*/) {}
        virtual void statusChanged(Core*, const char* /*productName*/) {}
        // An update attempt ended as the history records it; a firmware attempt once its
        // device is back from the reboot, or given up.
        virtual void updateEnded(Core*, const HistoryEntry&) {}
    };

    class DequeProcess;
    class DownloadProcess;
    class UpdateProcess;
    class RebootProcess;

    Core();
    virtual ~Core();
    Core(const Core&) = delete;
    Core& operator=(const Core&) = delete;

    // Set up by the owner before any other thread uses the core.
    void setProxy(std::unique_ptr<IProxy> proxy);
    IProxy* proxy() const { return proxy_.get(); }
    void setIpcEnabled(bool enabled);

    void addListener(Listener* listener);
    void removeListener(Listener* listener);
    // Calls every listener in registration order under the listeners lock.
    void notifyListeners(const std::function<void(Listener&)>& call);

    bool addProduct(ProductCode code, const std::string& name, const std::string& address,
                    const Version& version);
    bool addDevice(const std::string& name, const std::string& address,
                   const std::vector<std::string>& txtEntries);
    void removeProduct(const std::string& name);
    // A device withdrawn from the network.
    void removeDevice(const std::string& name);
    ProductPtr findProduct(const std::string& name);
    void forEachProduct(std::function<bool(const ProductPtr&)> callback);
    ProductPtr findProductByCode(ProductCode code);
    void setStatus(const ProductPtr& product, uint32_t status);
    bool canUpdate(const ProductPtr& product) const;
    void writeIpcFile();

    // Catalogue.
    void startSync();
    bool usingLocalFile() const;
    void setForceRefresh();
    std::string publishFileUrl(bool local);

    // Folders and packages.
    bool createDownloadDirectories();
    std::string downloadsDir() const;
    std::string downloadPath(const ProductPtr& product, bool includeFile) const;
    bool isDownloaded(const ProductPtr& product);
    bool verifyDownload(const ProductPtr& product);
    void requestDownload(const std::string& name);
    void cancel(const std::string& name);
    bool fetchAgreement(const ProductPtr& product, std::string& text,
                        const kvcurl::ProgressFunction& progress);
    static std::string downloadErrorText(int32_t errorCode);
    bool isDownloading() const;
    bool isUpdating() const;
    // Whether a download or an update of the product is queued or under way, or the device is
    // awaited back from the reboot that ended its update.
    bool hasJob(const std::string& name) const;

    // Devices and updates.
    void removeFirmwareProducts();
    void requestUpdate(const ProductPtr& product);
    void countUpdates(int& firmware, int& software, int& total);
    bool firmwareUpdateActive() const;

    // Waits until the sync, the download and update queues and the devices awaited back from
    // their reboot are all idle at once; false when the time ran out first.
    bool waitUntilIdle(std::chrono::milliseconds timeout);

private:
    // On a probe thread: asks the device for its serial and its Dante twin, with no lock held,
    // and gives them to the product only while it is still listed.
    void probeDevice(const ProductPtr& product);
    // A product with a queued job stays until its worker is done with it.
    bool keepWhileQueued(const std::string& name);
    // Called by the workers when done with a product.
    void removeIfGone(const ProductPtr& product);

    // Built in this order. The destructor joins the probes and the sync first, then the
    // download worker, and last the update and reboot workers, which download jobs feed.
    std::unique_ptr<IProxy> proxy_;
    RefusedNames refusedNames_;
    std::unique_ptr<ProductList> products_;
    std::unique_ptr<DownloadQueue> downloads_;
    std::unique_ptr<StatusFileWriter> statusFile_;
    std::unique_ptr<UpdateQueue> updates_;
    std::unique_ptr<CatalogueSync> sync_;
    // Joined first when the core goes: its jobs use the products and the listeners.
    std::unique_ptr<DeviceProbes> deviceProbes_;
};

} // namespace kv::portal
