#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace kv::platform {

// The file version a Windows executable declares in its version resource.
struct FileVersion {
    uint16_t major = 0;
    uint16_t minor = 0;
    uint16_t revision = 0;
    uint16_t build = 0;
};

// nullopt for a file without a readable version resource, which includes every file that is
// not a PE file.
std::optional<FileVersion> readFileVersion(const std::string& path);

} // namespace kv::platform
