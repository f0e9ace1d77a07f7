#include "core/update/UpdateFailureText.h"

#include "core/Core.h"
#include "core/ResultCodes.h"

namespace kv::portal {

namespace {

std::string reason(int32_t errorCode, bool firmware) {
    if (!firmware) {
        return "the installer ended with " + std::to_string(errorCode);
    }
    switch (errorCode) {
    case result::kDeviceReportedFailure:
        return "the device reported that its update failed";
    case result::kDeviceReportedNothing:
        return "the device never reported the state of its update";
    case result::kUpdateNotTaken:
        return "the update did not take effect, the device still runs its old version";
    case result::kDeviceNotBack:
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
