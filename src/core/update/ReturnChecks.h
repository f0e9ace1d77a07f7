#pragma once

#include "core/Version.h"
#include "core/update/UpdateHistory.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace kv::portal {

// Firmware updates awaiting their device's return: an attempt counts as succeeded only once the
// device is back running something other than the version it was updated from. Keyed by product
// name, because a device that left discovery comes back as a new product.
class ReturnChecks {
public:
    using Clock = std::chrono::steady_clock;

    // The entry is completed when the device returns or is given up.
    void expect(const HistoryEntry& entry, Clock::time_point started);
    bool awaited(const std::string& name) const;
    // Drops the check of an attempt that never reached the reboot.
    void forget(const std::string& name);
    // The completed entry when the device was awaited; it still runs its old version when the
    // entry's result is "failed".
    std::optional<HistoryEntry> back(const std::string& name, const Version& running);
    std::optional<HistoryEntry> notBack(const std::string& name);

private:
    std::optional<HistoryEntry> complete(const std::string& name, const char* result,
                                         int32_t errorCode);

    struct Check {
        HistoryEntry entry;
        Clock::time_point started;
    };
    mutable std::mutex mutex_;
    std::map<std::string, Check> checks_;
};

} // namespace kv::portal
