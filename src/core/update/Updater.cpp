#include "core/update/Updater.h"

#include "core/Core.h"
#include "core/device/DeviceInterface.h"
#include "core/device/DeviceWaits.h"
#include "core/download/PackageName.h"
#include "core/update/ReturnChecks.h"
#include "core/update/UpdateHistory.h"
#include "core/workers/DequeProcess.h"
#include "platform/PathSeparator.h"
#include "ru_rod.h"

#include <chrono>
#include <ctime>

namespace kv::portal {

namespace {

constexpr int kAttempts = 3;
constexpr int32_t kDeviceReportedFailure = -1;
constexpr int32_t kDeviceReportedNothing = -2;
constexpr int32_t kRefused = -1;
constexpr int32_t kFailedState = 3;
constexpr int32_t kFinishedState = 4;
// How long the upload waits for the device's answer once the device reported the end of its
// update: one that lost power meanwhile never sends it.
constexpr auto kAnswerAfterEnd = std::chrono::seconds(120);

// Installer exit codes (Windows Installer's published values).
constexpr int32_t kInstallerSucceeded = 0;
constexpr int32_t kInstallerCancelled = 1602;
constexpr int32_t kInstallerRestarting = 1641;
constexpr int32_t kInstallerNeedsRestart = 3010;

std::string historyResult(bool firmware, int32_t result) {
    if (result == kInstallerCancelled && !firmware) {
        return "cancelled";
    }
    const bool succeeded =
        result == kInstallerSucceeded ||
        (!firmware && (result == kInstallerNeedsRestart || result == kInstallerRestarting));
    return succeeded ? "succeeded" : "failed";
}

} // namespace

int32_t Updater::updateProduct(Core& core, const ProductPtr& product) {
    const Product::CloudPtr release = product->cloud.get();
    if (!release || !product->isUpdateAvailable() || !core.canUpdate(product)) {
        return attemptUpdate(core, product);
    }
    HistoryEntry entry;
    entry.time = static_cast<int64_t>(std::time(nullptr));
    entry.product = product->name;
    entry.code = product->code;
    entry.address = product->address.get();
    entry.fromVersion = versionText(product->version.get());
    entry.toVersion = versionText(release->version);
    const auto start = ReturnChecks::Clock::now();
    const bool firmware = product->isFirmware();
    if (firmware) {
        // Before the upload: the reboot worker may see the device back before this step ends.
        core.returnChecks_->expect(entry, start);
    }
    const int32_t result = attemptUpdate(core, product);
    if (firmware && result == 0) {
        return result;
    }
    core.returnChecks_->forget(entry.product);
    entry.durationMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(ReturnChecks::Clock::now() - start)
            .count();
    entry.result = historyResult(firmware, result);
    // A device's own failure code says more than the attempt's -1.
    entry.errorCode = entry.result == "succeeded" ? 0
                      : firmware                  ? product->errorCode.load()
                                                  : result;
    record(core, entry);
    return result;
}

void Updater::deviceBack(Core& core, const ProductPtr& product, const Version& running) {
    const std::optional<HistoryEntry> entry = core.returnChecks_->back(product->name, running);
    if (!entry) {
        return;
    }
    if (entry->errorCode == kUpdateNotTaken) {
        KV_LOG(3, "Update %s(%s) to %s did not take effect: the device still runs %s\n",
               product->code, product->name.c_str(), entry->toVersion.c_str(),
               entry->fromVersion.c_str());
    }
    record(core, *entry);
}

void Updater::deviceNotBack(Core& core, const ProductPtr& product) {
    if (const std::optional<HistoryEntry> entry = core.returnChecks_->notBack(product->name)) {
        record(core, *entry);
    }
}

void Updater::record(Core& core, const HistoryEntry& entry) {
    const std::string path = core.downloadsDir() + platform::kPathSeparator + kHistoryFileName;
    if (!appendHistory(path, entry)) {
        KV_LOG(4, "Failed to write the update history %s\n", path.c_str());
    }
    core.notifyListeners([&](Core::Listener& listener) { listener.updateEnded(&core, entry); });
}

int32_t Updater::attemptUpdate(Core& core, const ProductPtr& product) {
    const Product::CloudPtr release = product->cloud.get();
    // A request that leads to nothing leaves no pending status behind: nothing is queued to
    // end it, and the row's Cancel finds nothing to cancel.
    if (!release || !product->isUpdateAvailable()) {
        KV_LOG(6, "Skipping update %s(%s): No cloud\n", product->code, product->name.c_str());
        core.setStatus(product, Evaluate);
        return 0;
    }
    if (!core.canUpdate(product)) {
        core.setStatus(product, Evaluate);
        return 0;
    }
    const bool firmware = product->isFirmware();
    // The package path is built from the release's file name: never upload or run a file
    // outside the package folder.
    if (!isSafePackageName(release->fileName)) {
        KV_LOG(3, "Update refused %s(%s) %s: unsafe file name \"%s\"\n", product->code,
               product->name.c_str(), versionText(release->version).c_str(),
               release->fileName.c_str());
        product->errorCode = kRefused;
        core.setStatus(product, firmware ? FirmwareUpdateError : SoftwareUpdaterError);
        return kRefused;
    }
    return firmware ? updateFirmware(core, product) : updateSoftware(core, product);
}

int32_t Updater::updateFirmware(Core& core, const ProductPtr& product) {
    core.firmwareUpdateActive_ = true;
    const std::string path = core.downloadPath(product, true);
    const std::string url = "http://" + product->address.get() + ":8080/commands/upload";
    for (int attempt = 1; attempt <= kAttempts; ++attempt) {
        if (attempt > 1) {
            core.setStatus(product, FirmwareUpdateRetrying);
        }
        product->errorCode = 0;
        core.uploadFinished_ = false;
        core.uploadAbandoned_ = false;
        core.updateEndReported_ = false;
        core.lastUpdateState_ = 0;
        core.pollThread_ = std::make_unique<std::thread>(&DeviceInterface::pollFirmwareUpdate,
                                                         std::ref(core), product);

        KV_LOG(6, "Updating firmware %s(%s):%s\n", product->code, product->name.c_str(),
               path.c_str());
        core.setStatus(product, FirmwareUpdateRequest);
        // When the device's answer is due; none until it reported the end of its update.
        std::chrono::steady_clock::time_point answerDue;
        const auto abandoned = [&core, &answerDue] {
            if (core.uploadAbandoned_) {
                return true;
            }
            if (!core.updateEndReported_) {
                return false;
            }
            const auto now = std::chrono::steady_clock::now();
            if (answerDue == std::chrono::steady_clock::time_point()) {
                answerDue = now + deviceWait(kAnswerAfterEnd);
            }
            return now > answerDue;
        };
        const int32_t result = kvcurl::upload(url, "firmware.bin", path, abandoned);

        {
            std::lock_guard<std::mutex> lock(core.uploadFinishedMutex_);
            core.uploadFinished_ = true;
        }
        core.uploadFinishedSignal_.notify_all();
        core.pollThread_->join();
        core.pollThread_.reset();
        if (result == 0 && product->errorCode == 0 && core.lastUpdateState_ != kFailedState &&
            core.lastUpdateState_ != kFinishedState) {
            DeviceInterface::confirmUpdateEnd(core, product);
        }

        if (result == 0 && product->errorCode == 0) {
            if (core.lastUpdateState_ != 0) {
                core.setStatus(product, DeviceRebooting);
                DeviceInterface::sendDeviceCommand(core, product, "reboot");
                core.rebootProcess_->enqueue(product);
                core.firmwareUpdateActive_ = false;
                return 0;
            }
            product->errorCode = kDeviceReportedNothing;
        } else if (product->errorCode == 0) {
            product->errorCode = result;
        }
        core.setStatus(product, FirmwareUpdateError);
    }
    core.firmwareUpdateActive_ = false;
    return kDeviceReportedFailure;
}

int32_t Updater::updateSoftware(Core& core, const ProductPtr& product) {
    IProxy* proxy = core.proxy();
    if (proxy == nullptr) {
        core.setStatus(product, Evaluate);
        return 0;
    }
    const std::string path = core.downloadPath(product, true);
    core.setStatus(product, SoftwareUpdating);
    KV_LOG(6, "Updating software %s(%s):%s\n", product->code, product->name.c_str(), path.c_str());
    const int32_t exitCode = proxy->runInstaller(path.c_str(), product->address.get().c_str());
    KV_LOG(6, "Install software exit code %d\n", exitCode);
    product->refreshInstalledVersion();
    core.setStatus(product, Evaluate);
    if (exitCode == kInstallerRestarting) {
        return exitCode;
    }
    if (exitCode == kInstallerSucceeded || exitCode == kInstallerNeedsRestart ||
        exitCode == kInstallerCancelled) {
        // The program cannot read its own new version until it is restarted.
        if (product->code == code::KVPORTAL) {
            if (const Product::CloudPtr release = product->cloud.get()) {
                product->version.set(release->version);
            }
            core.setStatus(product, Evaluate);
        }
        return exitCode;
    }
    product->errorCode = exitCode;
    core.setStatus(product, SoftwareUpdaterError);
    return exitCode;
}

} // namespace kv::portal
