#pragma once

#include <cstdint>

namespace kv::platform {

// The version this program was built as: the project's version and the build's number.
struct ProgramVersion {
    uint32_t major;
    uint32_t minor;
    uint32_t revision;
    uint32_t build;
};

ProgramVersion programVersion();

} // namespace kv::platform
