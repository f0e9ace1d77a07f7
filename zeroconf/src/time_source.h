#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

namespace zeroconf {

// Monotonic time in nanoseconds; the discovery time-outs read it, tests replace it.
using time_source = std::function<std::int64_t()>;

inline std::int64_t steady_nanoseconds() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace zeroconf
