#pragma once

#include "core/Status.h"

#include <cstdint>

namespace kv::portal {

// A status a product rests in until something is asked of it.
inline bool isSettledStatus(uint32_t status) {
    return status == UpToDate || status == ReadyToDownload || status == ReadyToUpdate ||
           status == NoCloudInformation;
}

} // namespace kv::portal
