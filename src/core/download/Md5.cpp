#include "core/download/Md5.h"

#include <cstdio>
#include <cstring>

namespace kv::portal {

namespace {

constexpr uint32_t kSines[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391,
};

uint32_t rotateLeft(uint32_t value, uint32_t bits) {
    return (value << bits) | (value >> (32 - bits));
}

uint32_t roundF(uint32_t x, uint32_t y, uint32_t z) {
    return z ^ (x & (y ^ z));
}
uint32_t roundH(uint32_t x, uint32_t y, uint32_t z) {
    return x ^ y ^ z;
}
uint32_t roundI(uint32_t x, uint32_t y, uint32_t z) {
    return y ^ (x | ~z);
}

} // namespace

Md5::Md5() : state_{0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476} {}

// The four rounds written out step by step: a loop that branches on every step halves the
// throughput, and packages are hashed whole.
#define KV_MD5_STEP(f, a, b, c, d, word, constant, shift)                                          \
    a += f(b, c, d) + (word) + (constant);                                                         \
    a = rotateLeft(a, shift) + b;

// The second round's function as two disjoint halves, so that only one operation waits for b.
#define KV_MD5_STEP_G(a, b, c, d, word, constant, shift)                                           \
    a += (c & ~d) + (word) + (constant);                                                           \
    a += b & d;                                                                                    \
    a = rotateLeft(a, shift) + b;

void Md5::transform(const uint8_t block[64]) {
    uint32_t w[16];
    for (int i = 0; i < 16; ++i) {
        w[i] = static_cast<uint32_t>(block[i * 4]) |
               (static_cast<uint32_t>(block[i * 4 + 1]) << 8) |
               (static_cast<uint32_t>(block[i * 4 + 2]) << 16) |
               (static_cast<uint32_t>(block[i * 4 + 3]) << 24);
    }
    uint32_t a = state_[0];
    uint32_t b = state_[1];
    uint32_t c = state_[2];
    uint32_t d = state_[3];
    const uint32_t* k = kSines;

    KV_MD5_STEP(roundF, a, b, c, d, w[0], k[0], 7)
    KV_MD5_STEP(roundF, d, a, b, c, w[1], k[1], 12)
    KV_MD5_STEP(roundF, c, d, a, b, w[2], k[2], 17)
    KV_MD5_STEP(roundF, b, c, d, a, w[3], k[3], 22)
    KV_MD5_STEP(roundF, a, b, c, d, w[4], k[4], 7)
    KV_MD5_STEP(roundF, d, a, b, c, w[5], k[5], 12)
    KV_MD5_STEP(roundF, c, d, a, b, w[6], k[6], 17)
    KV_MD5_STEP(roundF, b, c, d, a, w[7], k[7], 22)
    KV_MD5_STEP(roundF, a, b, c, d, w[8], k[8], 7)
    KV_MD5_STEP(roundF, d, a, b, c, w[9], k[9], 12)
    KV_MD5_STEP(roundF, c, d, a, b, w[10], k[10], 17)
    KV_MD5_STEP(roundF, b, c, d, a, w[11], k[11], 22)
    KV_MD5_STEP(roundF, a, b, c, d, w[12], k[12], 7)
    KV_MD5_STEP(roundF, d, a, b, c, w[13], k[13], 12)
    KV_MD5_STEP(roundF, c, d, a, b, w[14], k[14], 17)
    KV_MD5_STEP(roundF, b, c, d, a, w[15], k[15], 22)

    KV_MD5_STEP_G(a, b, c, d, w[1], k[16], 5)
    KV_MD5_STEP_G(d, a, b, c, w[6], k[17], 9)
    KV_MD5_STEP_G(c, d, a, b, w[11], k[18], 14)
    KV_MD5_STEP_G(b, c, d, a, w[0], k[19], 20)
    KV_MD5_STEP_G(a, b, c, d, w[5], k[20], 5)
    KV_MD5_STEP_G(d, a, b, c, w[10], k[21], 9)
    KV_MD5_STEP_G(c, d, a, b, w[15], k[22], 14)
    KV_MD5_STEP_G(b, c, d, a, w[4], k[23], 20)
    KV_MD5_STEP_G(a, b, c, d, w[9], k[24], 5)
    KV_MD5_STEP_G(d, a, b, c, w[14], k[25], 9)
    KV_MD5_STEP_G(c, d, a, b, w[3], k[26], 14)
    KV_MD5_STEP_G(b, c, d, a, w[8], k[27], 20)
    KV_MD5_STEP_G(a, b, c, d, w[13], k[28], 5)
    KV_MD5_STEP_G(d, a, b, c, w[2], k[29], 9)
    KV_MD5_STEP_G(c, d, a, b, w[7], k[30], 14)
    KV_MD5_STEP_G(b, c, d, a, w[12], k[31], 20)

    KV_MD5_STEP(roundH, a, b, c, d, w[5], k[32], 4)
    KV_MD5_STEP(roundH, d, a, b, c, w[8], k[33], 11)
    KV_MD5_STEP(roundH, c, d, a, b, w[11], k[34], 16)
    KV_MD5_STEP(roundH, b, c, d, a, w[14], k[35], 23)
    KV_MD5_STEP(roundH, a, b, c, d, w[1], k[36], 4)
    KV_MD5_STEP(roundH, d, a, b, c, w[4], k[37], 11)
    KV_MD5_STEP(roundH, c, d, a, b, w[7], k[38], 16)
    KV_MD5_STEP(roundH, b, c, d, a, w[10], k[39], 23)
    KV_MD5_STEP(roundH, a, b, c, d, w[13], k[40], 4)
    KV_MD5_STEP(roundH, d, a, b, c, w[0], k[41], 11)
    KV_MD5_STEP(roundH, c, d, a, b, w[3], k[42], 16)
    KV_MD5_STEP(roundH, b, c, d, a, w[6], k[43], 23)
    KV_MD5_STEP(roundH, a, b, c, d, w[9], k[44], 4)
    KV_MD5_STEP(roundH, d, a, b, c, w[12], k[45], 11)
    KV_MD5_STEP(roundH, c, d, a, b, w[15], k[46], 16)
    KV_MD5_STEP(roundH, b, c, d, a, w[2], k[47], 23)

    KV_MD5_STEP(roundI, a, b, c, d, w[0], k[48], 6)
    KV_MD5_STEP(roundI, d, a, b, c, w[7], k[49], 10)
    KV_MD5_STEP(roundI, c, d, a, b, w[14], k[50], 15)
    KV_MD5_STEP(roundI, b, c, d, a, w[5], k[51], 21)
    KV_MD5_STEP(roundI, a, b, c, d, w[12], k[52], 6)
    KV_MD5_STEP(roundI, d, a, b, c, w[3], k[53], 10)
    KV_MD5_STEP(roundI, c, d, a, b, w[10], k[54], 15)
    KV_MD5_STEP(roundI, b, c, d, a, w[1], k[55], 21)
    KV_MD5_STEP(roundI, a, b, c, d, w[8], k[56], 6)
    KV_MD5_STEP(roundI, d, a, b, c, w[15], k[57], 10)
    KV_MD5_STEP(roundI, c, d, a, b, w[6], k[58], 15)
    KV_MD5_STEP(roundI, b, c, d, a, w[13], k[59], 21)
    KV_MD5_STEP(roundI, a, b, c, d, w[4], k[60], 6)
    KV_MD5_STEP(roundI, d, a, b, c, w[11], k[61], 10)
    KV_MD5_STEP(roundI, c, d, a, b, w[2], k[62], 15)
    KV_MD5_STEP(roundI, b, c, d, a, w[9], k[63], 21)

    state_[0] += a;
    state_[1] += b;
    state_[2] += c;
    state_[3] += d;
}

#undef KV_MD5_STEP
#undef KV_MD5_STEP_G

void Md5::update(const void* data, size_t size) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    size_t used = static_cast<size_t>((bitCount_ / 8) % 64);
    bitCount_ += static_cast<uint64_t>(size) * 8;
    if (used > 0) {
        const size_t take = std::min(size, 64 - used);
        std::memcpy(buffer_ + used, bytes, take);
        bytes += take;
        size -= take;
        used += take;
        if (used < 64) {
            return;
        }
        transform(buffer_);
    }
    for (; size >= 64; bytes += 64, size -= 64) {
        transform(bytes);
    }
    std::memcpy(buffer_, bytes, size);
}

void Md5::finalise() {
    if (finalised_) {
        return;
    }
    const uint64_t bits = bitCount_;
    const uint8_t pad = 0x80;
    update(&pad, 1);
    const uint8_t zero = 0;
    while ((bitCount_ / 8) % 64 != 56) {
        update(&zero, 1);
    }
    uint8_t length[8];
    for (int i = 0; i < 8; ++i) {
        length[i] = static_cast<uint8_t>(bits >> (8 * i));
    }
    update(length, 8);
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) {
            digest_[i * 4 + j] = static_cast<uint8_t>(state_[i] >> (8 * j));
        }
    }
    finalised_ = true;
}

std::string Md5::hexDigest() const {
    if (!finalised_) {
        return {};
    }
    char text[33];
    for (int i = 0; i < 16; ++i) {
        std::snprintf(text + i * 2, 3, "%02x", digest_[i]);
    }
    return std::string(text, 32);
}

} // namespace kv::portal
