#pragma once

#include "ui/commands/ICmd.h"

#include <atomic>
#include <string>

namespace kv::portal {

// "--firmware_update": installs a package that is already in the downloads folder on one
// device, as soon as the device has a settled status, and quits when it has settled again.
class CmdFirmwareUpdate : public ICmd {
public:
    CmdFirmwareUpdate(Core* core, const std::string& productName, const std::string& packageFile);
    ~CmdFirmwareUpdate() override;

    void statusChanged(Core* core, const char* productName) override;

private:
    const std::string uid;
    const std::string fileName;
    std::atomic<bool> started{false};
};

} // namespace kv::portal
