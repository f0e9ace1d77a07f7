#pragma once

#include <cstdint>
#include <string>

namespace kv::portal {

// One update attempt as "history.jsonl" keeps it.
struct HistoryEntry {
    // Seconds since 1970 (UTC) when the attempt started.
    int64_t time = 0;
    std::string product;
    std::string code;
    // A device's address, or an application's installed path.
    std::string address;
    std::string fromVersion;
    std::string toVersion;
    // "succeeded", "failed" or "cancelled".
    std::string result;
    int32_t errorCode = 0;
    int64_t durationMs = 0;
};

constexpr char kHistoryFileName[] = "history.jsonl";

// The entry as one line of JSON, line feed included.
std::string historyLine(const HistoryEntry& entry);

// Appends the entry to the history file at the path with one write, never through a link.
// False when it could not.
bool appendHistory(const std::string& path, const HistoryEntry& entry);

} // namespace kv::portal
