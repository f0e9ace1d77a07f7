#pragma once

#include "core/Product.h"

#include <rapidjson/document.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace kv::portal {

class Core;

// Uploads firmware to a device, up to three attempts, each followed by a poller thread of its
// own that reports the device's update state while the upload runs. Used by the update worker
// alone; the poller and the upload share the attempt's flags.
class FirmwareUploader {
public:
    // The core settles the device's statuses and hears its progress; `rebooting` is handed a
    // device that took its update and was told to reboot.
    FirmwareUploader(Core& core, std::function<void(const ProductPtr&)> rebooting);
    FirmwareUploader(const FirmwareUploader&) = delete;
    FirmwareUploader& operator=(const FirmwareUploader&) = delete;

    // 0 when the device took the package at `path`, -1 after three failed attempts.
    int32_t update(const ProductPtr& product, const std::string& path);
    bool active() const { return active_; }

    // True when the state ends the poll (finished or failed).
    bool handleUpdateState(const ProductPtr& product, const rapidjson::Value& state);

private:
    // Follows the device's update state until the device reports the end or the upload
    // returns.
    void poll(const ProductPtr& product);
    // Asks once more, after the upload returned, whether the device finished or failed: a
    // failure shown for less than a poll's pause is missed by the poller.
    void confirmUpdateEnd(const ProductPtr& product);

    Core& core_;
    const std::function<void(const ProductPtr&)> rebooting_;
    std::atomic<bool> active_{false};

    // The poller of the current attempt, joined before the next starts.
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
};

} // namespace kv::portal
