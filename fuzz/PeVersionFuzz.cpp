// The installed version of an application is read from the version resource of its executable,
// a file anyone who can write below Program Files controls. The input is the file.

#include "FuzzCheck.h"
#include "TempDir.h"
#include "core/Version.h"
#include "platform/FileTime.h"
#include "platform/FileVersion.h"
#include "platform/PeImage.h"

#include <optional>
#include <string>

namespace {

namespace platform = kv::platform;

// The version read must be the words after a fixed-information signature somewhere in the file.
bool holdsVersion(const std::string& file, const platform::FileVersion& version) {
    const std::string signature("\xBD\x04\xEF\xFE", 4);
    const uint32_t mostSignificant = static_cast<uint32_t>(version.major) << 16 | version.minor;
    const uint32_t leastSignificant = static_cast<uint32_t>(version.revision) << 16 | version.build;
    for (size_t at = file.find(signature); at != std::string::npos;
         at = file.find(signature, at + 1)) {
        const auto* info = reinterpret_cast<const uint8_t*>(file.data()) + at;
        if (at + 16 <= file.size() && platform::le32(info + 8) == mostSignificant &&
            platform::le32(info + 12) == leastSignificant) {
            return true;
        }
    }
    return false;
}

void checkInstalledVersion(const std::string& path,
                           const std::optional<platform::FileVersion>& found) {
    kv::portal::Version version;
    version.generation = 5;
    FUZZ_CHECK(version.readFromExecutable(path) == found.has_value());
    if (!found) {
        FUZZ_CHECK(!version.isValid() && version.generation == 5 && version.fileTime == 0);
        return;
    }
    FUZZ_CHECK(version.major == found->major && version.minor == found->minor &&
               version.revision == found->revision && version.build == found->build);
    FUZZ_CHECK(version.generation == 1);
    FUZZ_CHECK(version.fileTime == platform::fileModificationTime(path));
    // An unchanged file is not read again.
    const kv::portal::Version before = version;
    FUZZ_CHECK(!version.readFromExecutable(path));
    FUZZ_CHECK(version.major == before.major && version.fileTime == before.fileTime);
}

} // namespace

FUZZ_TARGET(file) {
    static const kv::test::TempDir folder;
    const std::string path = folder.file("Application.exe");
    kv::test::writeFile(path, file);

    const std::optional<platform::FileVersion> found = platform::readFileVersion(path);
    if (found) {
        FUZZ_CHECK(file.compare(0, 2, "MZ") == 0);
        FUZZ_CHECK(platform::isPeFile(path));
        FUZZ_CHECK(holdsVersion(file, *found));
    }
    checkInstalledVersion(path, found);
}
