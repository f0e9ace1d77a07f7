#include "core/update/ReturnChecks.h"

#include "core/ResultCodes.h"

namespace kv::portal {

void ReturnChecks::expect(const HistoryEntry& entry, Clock::time_point started) {
    std::lock_guard<std::mutex> lock(mutex_);
    checks_[entry.product] = Check{entry, started};
}

bool ReturnChecks::awaited(const std::string& name) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return checks_.count(name) != 0;
}

void ReturnChecks::forget(const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    checks_.erase(name);
}

std::optional<HistoryEntry> ReturnChecks::back(const std::string& name, const Version& running) {
    std::string fromVersion;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto found = checks_.find(name);
        if (found == checks_.end()) {
            return std::nullopt;
        }
        fromVersion = found->second.entry.fromVersion;
    }
    const bool taken = versionText(running) != fromVersion;
    return complete(name, taken ? "succeeded" : "failed",
                    taken ? result::kSuccess : result::kUpdateNotTaken);
}

std::optional<HistoryEntry> ReturnChecks::notBack(const std::string& name) {
    return complete(name, "failed", result::kDeviceNotBack);
}

// Taken out under the lock: the status service and discovery may both see the device return.
std::optional<HistoryEntry> ReturnChecks::complete(const std::string& name, const char* result,
                                                   int32_t errorCode) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = checks_.find(name);
    if (found == checks_.end()) {
        return std::nullopt;
    }
    HistoryEntry entry = found->second.entry;
    entry.result = result;
    entry.errorCode = errorCode;
    entry.durationMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - found->second.started)
            .count();
    checks_.erase(found);
    return entry;
}

} // namespace kv::portal
