#pragma once

#include "ui/commands/ICmd.h"

#include <atomic>
#include <string>

namespace kv::portal {

// "--firmware_download_update": downloads the released package afresh and installs it on one
// device, even one that is up to date, and quits when the device has settled again.
class CmdFirmwareDownloadUpdate : public ICmd {
public:
    CmdFirmwareDownloadUpdate(Core* core, const std::string& productName);
    ~CmdFirmwareDownloadUpdate() override;

    void statusChanged(Core* core, const char* productName) override;

private:
    const std::string uid;
    std::atomic<bool> started{false};
};

} // namespace kv::portal
