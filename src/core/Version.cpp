#include "core/Version.h"

#include <cctype>
#include <cstdio>
#include <limits>

namespace kv::portal {

std::atomic<bool> ignoreBuild{true};

namespace {

// The leading number of a segment as the C library's atoi reads it, but saturating instead of
// overflowing: a hostile version text must not reach undefined behaviour.
uint32_t leadingNumber(const char* begin, const char* end) {
    const char* p = begin;
    while (p < end && std::isspace(static_cast<unsigned char>(*p))) {
        ++p;
    }
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
    }
    uint64_t value = 0;
    constexpr uint64_t limit = std::numeric_limits<uint32_t>::max();
    for (; p < end && std::isdigit(static_cast<unsigned char>(*p)); ++p) {
        value = std::min<uint64_t>(value * 10 + static_cast<uint64_t>(*p - '0'), limit);
    }
    return negative ? static_cast<uint32_t>(0 - value) : static_cast<uint32_t>(value);
}

} // namespace

uint32_t decimalValue(const char* text) {
    const char* end = text;
    while (*end != '\0') {
        ++end;
    }
    return leadingNumber(text, end);
}

bool Version::parseVersion(const char* text) {
    if (text == nullptr) {
        return false;
    }
    uint32_t* const numbers[] = {&major, &minor, &revision, &build};
    for (uint32_t* number : numbers) {
        *number = 0;
    }
    size_t index = 0;
    const char* segment = text;
    for (const char* p = text;; ++p) {
        const bool end = *p == '\0';
        if (end || *p == '.' || *p == 'b') {
            if (index < 4) {
                *numbers[index++] = leadingNumber(segment, p);
            }
            if (end) {
                break;
            }
            segment = p + 1;
        }
    }
    return true;
}

std::string versionText(const Version& version) {
    if (!version.isValid()) {
        return "None";
    }
    char text[64];
    std::snprintf(text, sizeof(text), "%u.%u.%u b%u", version.major, version.minor,
                  version.revision, version.build);
    return text;
}

namespace {

int comparedNumbers() {
    return ignoreBuild ? 3 : 4;
}

} // namespace

bool operator>(const Version& a, const Version& b) {
    const uint32_t left[] = {a.major, a.minor, a.revision, a.build};
    const uint32_t right[] = {b.major, b.minor, b.revision, b.build};
    const int n = comparedNumbers();
    for (int i = 0; i < n; ++i) {
        if (left[i] != right[i]) {
            return left[i] > right[i];
        }
    }
    return false;
}

bool operator!=(const Version& a, const Version& b) {
    const uint32_t left[] = {a.major, a.minor, a.revision, a.build};
    const uint32_t right[] = {b.major, b.minor, b.revision, b.build};
    const int n = comparedNumbers();
    for (int i = 0; i < n; ++i) {
        if (left[i] != right[i]) {
            return true;
        }
    }
    return false;
}

uint32_t reducedApplicationBuild(uint32_t build) {
    return build >= 32690 ? build % 10000 : build;
}

} // namespace kv::portal
