// Version texts come from devices (TXT "version") and from the publish file ("IV"). The input
// holds two texts separated by a NUL byte.

#include "FuzzCheck.h"
#include "core/Version.h"

#include <string>

namespace {

using kv::portal::Version;

bool sameNumbers(const Version& a, const Version& b) {
    return a.major == b.major && a.minor == b.minor && a.revision == b.revision &&
           a.build == b.build;
}

// Segments that are plain decimal numbers of up to nine digits read as exactly that number,
// and the numbers after the last segment stay 0.
void checkPlainSegments(const std::string& text, const Version& version) {
    const uint32_t numbers[] = {version.major, version.minor, version.revision, version.build};
    size_t index = 0;
    size_t start = 0;
    for (size_t i = 0; i <= text.size() && index < 4; ++i) {
        if (i < text.size() && text[i] != '.' && text[i] != 'b') {
            continue;
        }
        const std::string segment = text.substr(start, i - start);
        if (segment.size() <= 9 && segment.find_first_not_of("0123456789") == std::string::npos) {
            FUZZ_CHECK(numbers[index] == (segment.empty() ? 0 : std::stoul(segment)));
        }
        ++index;
        start = i + 1;
    }
    for (; index < 4; ++index) {
        FUZZ_CHECK(numbers[index] == 0);
    }
}

Version parsed(const std::string& text) {
    Version version(7, 7, 7, 7);
    version.generation = 9;
    version.fileTime = -3;
    FUZZ_CHECK(version.parseVersion(text.c_str()));
    // Only the four numbers are the text's.
    FUZZ_CHECK(version.generation == 9 && version.fileTime == -3);
    checkPlainSegments(text, version);
    if (text.find_first_of(".b") == std::string::npos) {
        FUZZ_CHECK(kv::portal::decimalValue(text.c_str()) == version.major);
    }
    return version;
}

// What the log, the status file and the note show reads back as the same version.
void checkText(const Version& version) {
    const std::string text = kv::portal::versionText(version);
    if (!version.isValid()) {
        FUZZ_CHECK(text == "None");
        return;
    }
    Version again;
    FUZZ_CHECK(again.parseVersion(text.c_str()));
    FUZZ_CHECK(sameNumbers(again, version));
}

// Under either comparison exactly one of greater, smaller and equal holds.
void checkOrder(const Version& a, const Version& b) {
    const bool saved = kv::portal::ignoreBuild;
    for (const bool ignore : {true, false}) {
        kv::portal::ignoreBuild = ignore;
        const bool greater = a > b;
        const bool smaller = b > a;
        const bool differs = a != b;
        FUZZ_CHECK(differs == (b != a));
        FUZZ_CHECK(static_cast<int>(greater) + static_cast<int>(smaller) + !differs == 1);
        FUZZ_CHECK(!(a > a) && !(a != a));
    }
    kv::portal::ignoreBuild = saved;
}

void checkApplicationBuild(uint32_t build) {
    const uint32_t reduced = kv::portal::reducedApplicationBuild(build);
    FUZZ_CHECK(build < 32690 ? reduced == build : reduced == build % 10000);
}

} // namespace

FUZZ_TARGET(input) {
    const auto [first, second] = kv::fuzz::splitAtNul(input);

    Version untouched(1, 2, 3, 4);
    FUZZ_CHECK(!untouched.parseVersion(nullptr));
    FUZZ_CHECK(sameNumbers(untouched, Version(1, 2, 3, 4)));

    const Version a = parsed(first);
    const Version b = parsed(second.substr(0, second.find('\0')));
    checkText(a);
    checkText(b);
    checkOrder(a, b);
    checkApplicationBuild(a.build);
}
