#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace kv::portal {

// While set, versions compare by major, minor and revision only; the sync sets it from the
// catalogue's source.
extern std::atomic<bool> ignoreBuild;

struct Version {
    Version() = default;
    Version(uint32_t majorNumber, uint32_t minorNumber, uint32_t revisionNumber,
            uint32_t buildNumber)
        : major(majorNumber), minor(minorNumber), revision(revisionNumber), build(buildNumber) {}

    uint32_t major = 0;
    uint32_t minor = 0;
    uint32_t revision = 0;
    uint32_t build = 0;
    uint32_t generation = 1;
    // Modification time of the executable the version was last read from; 0 when never read.
    int64_t fileTime = 0;

    bool isValid() const { return major != 0 || minor != 0 || revision != 0 || build != 0; }

    // Reads "1.2.3b45" style text; a null text changes nothing and returns false.
    bool parseVersion(const char* text);

    // Reads the version resource of an executable unless its modification time is unchanged.
    bool readFromExecutable(const std::string& path);
};

std::string versionText(const Version& version);

bool operator>(const Version& a, const Version& b);
bool operator!=(const Version& a, const Version& b);

// The leading decimal number of a text as atoi reads it, saturated to 32 bits.
uint32_t decimalValue(const char* text);

// Application releases publish builds of 32690 and more with a prefix; only the rest counts.
uint32_t reducedApplicationBuild(uint32_t build);

} // namespace kv::portal
