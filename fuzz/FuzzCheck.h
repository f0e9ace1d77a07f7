#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

// A broken invariant aborts: the fuzzer keeps the input as a crash, and a replay fails.
#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition);     \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

#define FUZZ_TARGET(input)                                                                         \
    static void fuzzOne(const std::string& input);                                                 \
    extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {                      \
        fuzzOne(std::string(reinterpret_cast<const char*>(data), size));                           \
        return 0;                                                                                  \
    }                                                                                              \
    static void fuzzOne(const std::string& input)

namespace kv::fuzz {

// The text before the first NUL byte, and all after it.
inline std::pair<std::string, std::string> splitAtNul(const std::string& input) {
    const size_t split = input.find('\0');
    return {input.substr(0, split), split == std::string::npos ? "" : input.substr(split + 1)};
}

} // namespace kv::fuzz
