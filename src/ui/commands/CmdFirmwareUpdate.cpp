#include "ui/commands/CmdFirmwareUpdate.h"

#include "core/Status.h"
#include "ru_rod.h"

#include <memory>

namespace kv::portal {

CmdFirmwareUpdate::CmdFirmwareUpdate(Core* core_, const std::string& productName,
                                     const std::string& packageFile)
    : ICmd(core_), uid(productName), fileName(packageFile) {}

CmdFirmwareUpdate::~CmdFirmwareUpdate() {
    // Core threads may still report while the members go.
    core->removeListener(this);
}

void CmdFirmwareUpdate::statusChanged(Core*, const char* productName) {
    if (uid != productName) {
        return;
    }
    const ProductPtr product = core->findProduct(uid);
    if (!product || !isSettledStatus(product->status)) {
        return;
    }
    if (started) {
        quitApplication();
        return;
    }

    auto release = std::make_shared<Product::Cloud>();
    release->fileName = fileName;
    release->version = Version(999, 999, 999, 999);
    product->cloud.set(std::move(release));

    if (core->isDownloaded(product)) {
        // Set first: the request may report a settled status again before it returns.
        started = true;
        core->requestUpdate(product);
        return;
    }
    KV_LOG(3, "--firmware_update failed: %s does not exist\n",
           core->downloadPath(product, true).c_str());
    quitApplication();
}

} // namespace kv::portal
