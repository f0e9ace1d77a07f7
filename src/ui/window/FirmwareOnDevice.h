#pragma once

#include "core/Status.h"

#include <cstdint>

namespace kv::portal {

// The device itself is writing its firmware: its row blinks a warning and offers nothing to
// click, so that nobody aborts the update.
inline bool firmwareRunsOnDevice(uint32_t status) {
    return status == FirmwareUploading || status == FirmwareUpdating ||
           status == ResizingPartitions || status == ProgressUnavailable;
}

} // namespace kv::portal
