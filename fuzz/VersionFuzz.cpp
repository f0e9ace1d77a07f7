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

Version parsed(const std::string& text) {
    Version version(7, 7, 7, 7);
    version.generation = 9;
    version.fileTime = -3;
    FUZZ_CHECK(version.parseVersion(text.c_str()));
    // Only the four numbers are the text's.
    FUZZ_CHECK(version.generation == 9 && version.fileTime == -3);
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
}
