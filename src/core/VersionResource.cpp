#include "core/Version.h"
#include "platform/FileTime.h"
#include "platform/FileVersion.h"

namespace kv::portal {

bool Version::readFromExecutable(const std::string& path) {
    const int64_t modified = platform::fileModificationTime(path);
    // Unchanged since the last read, or absent and never read.
    if (modified == fileTime) {
        return false;
    }
    const std::optional<platform::FileVersion> found = platform::readFileVersion(path);
    if (!found) {
        return false;
    }
    major = found->major;
    minor = found->minor;
    revision = found->revision;
    build = found->build;
    generation = 1;
    fileTime = modified;
    return true;
}

} // namespace kv::portal
