#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace kv::test {

// For a test that needs what only root has (a network namespace, a mount, another user): it
// skips, saying why, on a machine without it; CI sets KV_LAB_REQUIRED, and there it fails. The
// caller returns right after, as in `return kv::test::unavailable(why);`.
inline void unavailable(const std::string& why) {
    const char* required = std::getenv("KV_LAB_REQUIRED");
    if (required != nullptr && std::string(required) != "0") {
        GTEST_FAIL() << "KV_LAB_REQUIRED is set, yet " << why;
    }
    GTEST_SKIP() << why;
}

} // namespace kv::test
