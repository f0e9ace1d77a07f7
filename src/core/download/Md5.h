#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kv::portal {

// The MD5 digest of RFC 1321, fed in pieces.
class Md5 {
public:
    Md5();
    void update(const void* data, size_t size);
    void finalise();
    // 32 lower-case hexadecimal digits; empty before finalise.
    std::string hexDigest() const;

private:
    void transform(const uint8_t block[64]);

    uint32_t state_[4];
    uint64_t bitCount_ = 0;
    uint8_t buffer_[64] = {};
    uint8_t digest_[16] = {};
    bool finalised_ = false;
};

} // namespace kv::portal
