#include "core/ResultCodes.h"
#include "core/download/DownloadQueue.h"
#include "core/download/PackageName.h"
#include "core/update/UpdateHistory.h"
#include "core/update/UpdateQueue.h"
#include "platform/PathSeparator.h"
#include "ru_rod.h"

#include <chrono>
#include <ctime>

namespace kv::portal {

namespace {

std::string historyResult(bool firmware, int32_t result) {
    if (result == result::kInstallerCancelled && !firmware) {
        return "cancelled";
    }
    const bool succeeded =
        result == result::kSuccess || (!firmware && (result == result::kInstallerNeedsRestart ||
                                                     result == result::kInstallerRestarting));
    return succeeded ? "succeeded" : "failed";
}

} // namespace

int32_t UpdateQueue::updateProduct(const ProductPtr& product) {
    const Product::CloudPtr release = product->cloud.get();
    if (!release || !product->isUpdateAvailable() || !core_.canUpdate(product)) {
        return attemptUpdate(product);
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
        returnChecks_.expect(entry, start);
    }
    const int32_t result = attemptUpdate(product);
    if (firmware && result == result::kSuccess) {
        return result;
    }
    returnChecks_.forget(entry.product);
    entry.durationMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(ReturnChecks::Clock::now() - start)
            .count();
    entry.result = historyResult(firmware, result);
    // A device's own failure code says more than the attempt's -1.
    entry.errorCode = entry.result == "succeeded" ? result::kSuccess
                      : firmware                  ? product->errorCode.load()
                                                  : result;
    record(entry);
    return result;
}

void UpdateQueue::deviceBack(const ProductPtr& product, const Version& running) {
    const std::optional<HistoryEntry> entry = returnChecks_.back(product->name, running);
    if (!entry) {
        return;
    }
    if (entry->errorCode == result::kUpdateNotTaken) {
        KV_LOG(3, "Update %s(%s) to %s did not take effect: the device still runs %s\n",
               product->code, product->name.c_str(), entry->toVersion.c_str(),
               entry->fromVersion.c_str());
    }
    record(*entry);
}

void UpdateQueue::record(const HistoryEntry& entry) {
    const std::string path =
        downloads_.downloadsDir() + platform::kPathSeparator + kHistoryFileName;
    if (!appendHistory(path, entry)) {
        KV_LOG(4, "Failed to write the update history %s\n", path.c_str());
    }
    core_.notifyListeners([&](Core::Listener& listener) { listener.updateEnded(&core_, entry); });
}

int32_t UpdateQueue::attemptUpdate(const ProductPtr& product) {
    const Product::CloudPtr release = product->cloud.get();
    // A request that leads to nothing leaves no pending status behind: nothing is queued to
    // end it, and the row's Cancel finds nothing to cancel.
    if (!release || !product->isUpdateAvailable()) {
        KV_LOG(6, "Skipping update %s(%s): No cloud\n", product->code, product->name.c_str());
        core_.setStatus(product, Evaluate);
        return 0;
    }
    if (!core_.canUpdate(product)) {
        core_.setStatus(product, Evaluate);
        return 0;
    }
    const bool firmware = product->isFirmware();
    // The package path is built from the release's file name: never upload or run a file
    // outside the package folder.
    if (!isSafePackageName(release->fileName)) {
        KV_LOG(3, "Update refused %s(%s) %s: unsafe file name \"%s\"\n", product->code,
               product->name.c_str(), versionText(release->version).c_str(),
               release->fileName.c_str());
        product->errorCode = result::kRefused;
        core_.setStatus(product, firmware ? FirmwareUpdateError : SoftwareUpdaterError);
        return result::kRefused;
    }
    return firmware ? uploader_.update(product, downloads_.downloadPath(product, true))
                    : updateSoftware(product);
}

int32_t UpdateQueue::updateSoftware(const ProductPtr& product) {
    IProxy* proxy = core_.proxy();
    if (proxy == nullptr) {
        core_.setStatus(product, Evaluate);
        return 0;
    }
    const std::string path = downloads_.downloadPath(product, true);
    core_.setStatus(product, SoftwareUpdating);
    KV_LOG(6, "Updating software %s(%s):%s\n", product->code, product->name.c_str(), path.c_str());
    const int32_t exitCode = proxy->runInstaller(path.c_str(), product->address.get().c_str());
    KV_LOG(6, "Install software exit code %d\n", exitCode);
    product->refreshInstalledVersion();
    core_.setStatus(product, Evaluate);
    if (exitCode == result::kInstallerRestarting) {
        return exitCode;
    }
    if (exitCode == result::kSuccess || exitCode == result::kInstallerNeedsRestart ||
        exitCode == result::kInstallerCancelled) {
        // The program cannot read its own new version until it is restarted.
        if (product->code == code::KVPORTAL) {
            if (const Product::CloudPtr release = product->cloud.get()) {
                product->version.set(release->version);
            }
            core_.setStatus(product, Evaluate);
        }
        return exitCode;
    }
    product->errorCode = exitCode;
    core_.setStatus(product, SoftwareUpdaterError);
    return exitCode;
}

} // namespace kv::portal
