#pragma once

#include <cstdint>
#include <string>

namespace kv::portal {

enum Status : uint32_t {
    None = 0,
    UpToDate = 1,
    ReadyToDownload = 2,
    ReadyToUpdate = 3,
    NoCloudInformation = 4,
    PendingDownload = 5,
    PendingUpdate = 6,
    Downloading = 7,
    FirmwareUploading = 8,
    FirmwareUpdating = 9,
    DeviceRebooting = 10,
    SoftwareUpdating = 11,
    VerifyingMd5 = 12,
    DownloadError = 13,
    FirmwareUpdateRequest = 14,
    FirmwareUpdateError = 15,
    FirmwareUpdateRetrying = 16,
    SoftwareUpdaterError = 17,
    ResizingPartitions = 18,
    ProgressUnavailable = 19,
    // Never stored: asks setStatus to work the status out.
    Evaluate = 20,
};

std::string statusText(uint32_t status, int32_t errorCode);

// A status a product rests in until something is asked of it.
bool isSettledStatus(uint32_t status);

// The outcome of a failed job, shown until the user acts on it.
bool isErrorStatus(uint32_t status);

} // namespace kv::portal
