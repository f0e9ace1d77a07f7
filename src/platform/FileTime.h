#pragma once

#include <cstdint>
#include <string>

namespace kv::platform {

// Seconds since 1970 of the file's last modification; 0 when the file cannot be examined.
int64_t fileModificationTime(const std::string& path);

} // namespace kv::platform
