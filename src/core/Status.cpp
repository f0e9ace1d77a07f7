#include "core/Status.h"

namespace kv::portal {

std::string statusText(uint32_t status, int32_t errorCode) {
    const std::string code = std::to_string(errorCode);
    switch (status) {
    case None:
        return "None";
    case UpToDate:
        return "Update To Date";
    case ReadyToDownload:
        return "Ready To Download";
    case ReadyToUpdate:
        return "Ready To Update";
    case NoCloudInformation:
        return "No Cloud Information";
    case PendingDownload:
        return "Pending Download";
    case PendingUpdate:
        return "Pending Update";
    case Downloading:
        return "Downloading";
    case FirmwareUploading:
        return "Firmware Uploading";
    case FirmwareUpdating:
        return "Firmware Updating";
    case DeviceRebooting:
        return "Device Rebooting";
    case SoftwareUpdating:
        return "Software Updating";
    case VerifyingMd5:
        return "Verifying file md5";
    case DownloadError:
        return "Download Error (" + code + ")";
    case FirmwareUpdateRequest:
        return "Firmware Update Request";
    case FirmwareUpdateError:
        return "Firmware Update Error (" + code + ")";
    case FirmwareUpdateRetrying:
        return "Firmware Update Error (" + code + "). Retrying...";
    case SoftwareUpdaterError:
        return "Software Updater Error (" + code + ")";
    case ResizingPartitions:
        return "Resizing partitions";
    case ProgressUnavailable:
        return "Firmware Update progress unavailable";
    default:
        return "?";
    }
}

bool isSettledStatus(uint32_t status) {
    return status == UpToDate || status == ReadyToDownload || status == ReadyToUpdate ||
           status == NoCloudInformation;
}

bool isErrorStatus(uint32_t status) {
    return status == DownloadError || status == FirmwareUpdateError ||
           status == SoftwareUpdaterError;
}

} // namespace kv::portal
