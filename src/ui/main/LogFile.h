#pragma once

#include <cstdint>
#include <string>

namespace kv::portal {

// A log file last written longer ago than this is started afresh: five days.
constexpr int64_t kLogFileLifetimeSeconds = 432000;

std::string logFilePath(const std::string& downloadsDir);

// Deletes whatever stands at the path when it was last written more than the lifetime before
// `now` (seconds since 1970). What cannot be examined or deleted stays, and is appended to.
void renewLogFile(const std::string& path, int64_t now);

} // namespace kv::portal
