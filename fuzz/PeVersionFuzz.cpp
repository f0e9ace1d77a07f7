// The installed version of an application is read from the version resource of its executable,
// a file anyone who can write below Program Files controls. The input is the file.

#include "FuzzCheck.h"
#include "TempDir.h"
#include "core/Version.h"
#include "platform/FileVersion.h"
#include "platform/PeImage.h"

#include <optional>
#include <string>

FUZZ_TARGET(file) {
    static const kv::test::TempDir folder;
    const std::string path = folder.file("Application.exe");
    kv::test::writeFile(path, file);

    const std::optional<kv::platform::FileVersion> found = kv::platform::readFileVersion(path);
    FUZZ_CHECK(!found || (file.compare(0, 2, "MZ") == 0 && kv::platform::isPeFile(path)));
    kv::portal::Version version;
    FUZZ_CHECK(version.readFromExecutable(path) == found.has_value());
    FUZZ_CHECK(!found || (version.major == found->major && version.minor == found->minor &&
                          version.revision == found->revision && version.build == found->build));
}
