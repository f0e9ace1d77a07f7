#pragma once

#include "core/Product.h"

#include <cstdint>

namespace kv::portal {

class Core;

// Firmware uploads and software installers, run for the core on its update worker.
class Updater {
public:
    // 0 when done, skipped or successful; -1 after three failed firmware attempts; an
    // installer's exit code for software.
    static int32_t updateProduct(Core& core, const ProductPtr& product);

private:
    // The update step itself, without its record in the history.
    static int32_t attemptUpdate(Core& core, const ProductPtr& product);
    // Up to three upload attempts, each followed by its own poller thread.
    static int32_t updateFirmware(Core& core, const ProductPtr& product);
    static int32_t updateSoftware(Core& core, const ProductPtr& product);
};

} // namespace kv::portal
