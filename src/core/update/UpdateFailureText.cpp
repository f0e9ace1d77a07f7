#include "core/update/UpdateFailureText.h"

#include "core/Core.h"
#include "core/update/ReturnChecks.h"

namespace kv::portal {

namespace {

std::string reason(int32_t errorCode, bool firmware) {
    if (!firmware) {
        return "the installer ended with " + std::to_string(errorCode);
    }
    switch (errorCode) {
    case -1:
        return "the device reported that its update failed";
    case -2:
        return "the device never reported the state of its update";
    case kUpdateNotTaken:
        return "the update did not take effect, the device still runs its old version";
    case kDeviceNotBack:
        return "the device did not come back from its reboot";
    default:
        return errorCode > 0 ? "upload: " + Core::downloadErrorText(errorCode) : "unexpected error";
    }
}

} // namespace

std::string updateFailureText(int32_t errorCode, bool firmware) {
    return reason(errorCode, firmware) + " (" + std::to_string(errorCode) + ")";
}

} // namespace kv::portal
