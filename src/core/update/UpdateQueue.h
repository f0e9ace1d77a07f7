#pragma once

#include "core/Core.h"
#include "core/update/FirmwareUploader.h"
#include "core/update/ReturnChecks.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace kv::portal {

class DownloadQueue;

// The updates: the queue of products waiting for theirs with the worker that runs them one at
// a time (firmware through the uploader, software through its installer), and the devices
// awaited back from the reboot that ended their update, with a worker of their own. Each queue
// has its own lock; the uploader belongs to the update worker.
class UpdateQueue {
public:
    // The core settles the products' statuses; `downloads` is emptied when an installer
    // restarts the computer, and gives the packages' paths.
    UpdateQueue(Core& core, DownloadQueue& downloads);
    // Joins the update worker, then the reboot worker it hands devices to.
    ~UpdateQueue();
    UpdateQueue(const UpdateQueue&) = delete;
    UpdateQueue& operator=(const UpdateQueue&) = delete;

    // Queues the product's update unless it is queued already.
    void request(const ProductPtr& product);
    bool cancel(const std::string& name);
    ProductPtr find(const std::string& name) const;
    // Queued for an update, or awaited back from its reboot.
    bool hasJob(const std::string& name) const;
    // Read without the lock, for the interface's busy checks.
    bool busy() const;
    bool firmwareUpdateActive() const { return uploader_.active(); }
    void stop();
    // Whether either worker is at work.
    bool working() const;
    // True once both workers have run dry, false when the deadline came first.
    bool waitUntilIdle(std::chrono::steady_clock::time_point deadline);
    std::recursive_mutex& lock() const;

    // The update step for the worker's front product.
    void process(const ProductPtr& product);
    // The reboot step: awaits the device while the core still lists it or its update awaits it.
    void awaitReboot(const ProductPtr& product);
    // The device is back from the reboot of its update, running `running`: the attempt it
    // awaited is recorded.
    void deviceBack(const ProductPtr& product, const Version& running);

private:
    // 0 when done, skipped or successful; -1 after three failed firmware attempts; an
    // installer's exit code for software.
    int32_t updateProduct(const ProductPtr& product);
    // The update step itself, without its record in the history.
    int32_t attemptUpdate(const ProductPtr& product);
    int32_t updateSoftware(const ProductPtr& product);
    // Appends the entry to the history and tells the listeners.
    void record(const HistoryEntry& entry);

    Core& core_;
    DownloadQueue& downloads_;
    std::unique_ptr<Core::UpdateProcess> worker_;
    std::unique_ptr<Core::RebootProcess> reboots_;
    FirmwareUploader uploader_;
    ReturnChecks returnChecks_;
};

} // namespace kv::portal
