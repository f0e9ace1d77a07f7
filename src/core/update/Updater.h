#pragma once

#include "core/Product.h"
#include "core/update/UpdateHistory.h"

#include <cstdint>

namespace kv::portal {

class Core;

// Firmware uploads and software installers, run for the core on its update worker.
class Updater {
public:
    // 0 when done, skipped or successful; -1 after three failed firmware attempts; an
    // installer's exit code for software.
    static int32_t updateProduct(Core& core, const ProductPtr& product);
    // The device is back from the reboot of its update, running `running`: the attempt it
    // awaited is recorded.
    static void deviceBack(Core& core, const ProductPtr& product, const Version& running);
    static void deviceNotBack(Core& core, const ProductPtr& product);

private:
    // Appends the entry to the history and tells the listeners.
    static void record(Core& core, const HistoryEntry& entry);
    // The update step itself, without its record in the history.
    static int32_t attemptUpdate(Core& core, const ProductPtr& product);
    // Up to three upload attempts, each followed by its own poller thread.
    static int32_t updateFirmware(Core& core, const ProductPtr& product);
    static int32_t updateSoftware(Core& core, const ProductPtr& product);
};

} // namespace kv::portal
