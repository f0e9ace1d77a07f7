#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

// A broken invariant aborts: the fuzzer keeps the input as a crash, and a replay fails.
#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition);     \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

namespace kv::fuzz {

inline std::string bytesText(const uint8_t* data, size_t size) {
    return std::string(reinterpret_cast<const char*>(data), size);
}

} // namespace kv::fuzz
