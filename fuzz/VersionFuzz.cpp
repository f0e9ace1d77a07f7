// Version texts come from devices (TXT "version") and from the publish file ("IV"). The input
// holds two texts separated by a NUL byte.

#include "FuzzCheck.h"
#include "core/Version.h"

#include <string>

namespace {

using kv::portal::Version;

Version parsed(const std::string& text) {
    Version version(7, 7, 7, 7);
    version.generation = 9;
    FUZZ_CHECK(version.parseVersion(text.c_str()) && version.generation == 9);
    // What the log, the status file and the note show reads back as the same version.
    Version again;
    FUZZ_CHECK(again.parseVersion(kv::portal::versionText(version).c_str()));
    FUZZ_CHECK(version.isValid() ? !(again != version) : !again.isValid());
    return version;
}

} // namespace

FUZZ_TARGET(input) {
    // All four numbers count when a text is read back.
    kv::portal::ignoreBuild = false;
    const auto [first, second] = kv::fuzz::splitAtNul(input);
    const Version a = parsed(first);
    const Version b = parsed(second.substr(0, second.find('\0')));
    // Under either comparison exactly one of greater, smaller and equal holds.
    for (const bool ignore : {true, false}) {
        kv::portal::ignoreBuild = ignore;
        FUZZ_CHECK((a > b) + (b > a) + !(a != b) == 1 && (a != b) == (b != a) && !(a > a));
    }
}
