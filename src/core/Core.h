#pragma once

#include "core/DeviceNames.h"
#include "core/IProxy.h"
#include "core/Product.h"
#include "core/update/UpdateHistory.h"
#include "kvcurl/kvcurl.h"
#include "platform/FileIdentity.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace kv::portal {

class DeviceProbes;
class JsonDocument;
class PackageDigests;
class ReturnChecks;

// The engine behind the window: the product list, its observers, the catalogue sync on a
// thread of its own, and the download and update workers.
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
    void setIpcEnabled(bool enabled) { ipcEnabled_ = enabled; }

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
    bool usingLocalFile() const { return usingLocalFile_; }
    void setForceRefresh() { forceRefresh_ = true; }
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
    bool firmwareUpdateActive() const { return firmwareUpdateActive_; }

private:
    void addProductLocked(ProductCode code, const std::string& name, const std::string& address,
                          const Version& version, std::vector<ProductPtr>& added);
    bool keepWhileQueued(const std::string& name);
    // On a probe thread: asks the device for its serial and its Dante twin, with no lock held,
    // and gives them to the product only while it is still listed.
    void probeDevice(const ProductPtr& product);

    // Holds status-file writes back while a pass settles many products, then writes the file
    // once: rewriting it per product makes a large sync quadratic.
    class IpcFileBatch {
    public:
        explicit IpcFileBatch(Core& core);
        ~IpcFileBatch();
        IpcFileBatch(const IpcFileBatch&) = delete;
        IpcFileBatch& operator=(const IpcFileBatch&) = delete;

    private:
        Core& core_;
    };
    void removeIfGone(const ProductPtr& product);

    friend class Sync;
    friend class Downloads;
    friend class DeviceInterface;
    friend class Updater;

    std::atomic<bool> ipcEnabled_{false};
    // Guards the open batches and the write they owe, so that a write held back by a batch is
    // never lost to that batch closing at the same moment.
    std::mutex ipcBatchMutex_;
    int ipcBatches_ = 0;
    bool ipcPending_ = false;
    std::unique_ptr<IProxy> proxy_;
    std::vector<ProductPtr> products_;
    std::unique_ptr<DownloadProcess> downloadProcess_;
    std::unique_ptr<UpdateProcess> updateProcess_;
    std::unique_ptr<RebootProcess> rebootProcess_;
    std::unique_ptr<ReturnChecks> returnChecks_;
    std::vector<Listener*> listeners_;
    mutable std::recursive_mutex productsMutex_;
    std::recursive_mutex syncMutex_;
    std::recursive_mutex listenersMutex_;
    std::unique_ptr<std::thread> syncThread_;
    // Joined first when the core goes: its jobs use the products and the listeners.
    std::unique_ptr<DeviceProbes> deviceProbes_;

    // The firmware update of the current upload attempt.
    std::unique_ptr<std::thread> pollThread_;
    std::atomic<bool> uploadFinished_{false};
    // Set by the poller when the device restarted during the upload, which it then waits
    // for in vain.
    std::atomic<bool> uploadAbandoned_{false};
    // Set by the poller when the device reported the end of its update (failed or finished):
    // its answer to the upload is due soon.
    std::atomic<bool> updateEndReported_{false};
    // Wakes the poller from its pause between queries once the upload has returned.
    std::mutex uploadFinishedMutex_;
    std::condition_variable uploadFinishedSignal_;
    std::atomic<int32_t> lastUpdateState_{0};

    // Read and replaced by the sync thread only.
    std::shared_ptr<JsonDocument> publishDoc_;
    std::atomic<bool> usingLocalFile_{false};
    std::atomic<bool> forceRefresh_{false};
    // The fetched text the local copy was last written from, and the copy that gave.
    struct SavedCopy {
        std::size_t textHash;
        std::size_t textSize;
        platform::FileIdentity copy;
    };
    std::optional<SavedCopy> savedCopy_;
    Guarded<std::string> downloadsDir_;
    // Set up by the constructor, once the program folder is known.
    std::unique_ptr<PackageDigests> packageDigests_;
    std::atomic<bool> firmwareUpdateActive_{false};
    // Guarded by syncMutex_: whether a sync thread is at work, and the requests it has yet to
    // serve.
    bool syncRunning_ = false;
    int syncRequests_ = 0;
    RefusedNames refusedNames_;
};

} // namespace kv::portal
