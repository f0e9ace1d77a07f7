#include "ui/commands/CmdFirmwareDownloadUpdate.h"

#include "core/Status.h"
#include "ru_rod.h"

#include <cstdio>

namespace kv::portal {

CmdFirmwareDownloadUpdate::CmdFirmwareDownloadUpdate(Core* core_, const std::string& productName)
    : ICmd(core_), uid(productName) {}

CmdFirmwareDownloadUpdate::~CmdFirmwareDownloadUpdate() {
    // Core threads may still report while the members go.
    core->removeListener(this);
}

void CmdFirmwareDownloadUpdate::statusChanged(Core*, const char* productName) {
    if (uid != productName) {
        return;
    }
    const ProductPtr product = core->findProduct(uid);
    if (!product) {
        return;
    }
    const uint32_t status = product->status;
    if (status == NoCloudInformation) {
        KV_LOG(3, "--firmware_download_update failed: No cloud information\n");
        quitApplication();
        return;
    }
    if (!isSettledStatus(status)) {
        return;
    }
    if (started) {
        quitApplication();
        return;
    }

    // The released version must count as an update, and the package must come afresh.
    product->version.set(Version());
    std::remove(core->downloadPath(product, true).c_str());
    product->updateAfterDownload = true;
    // Set first: the request may report a settled status again before it returns.
    started = true;
    core->requestDownload(uid);
}

} // namespace kv::portal
