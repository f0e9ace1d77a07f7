#include "platform/FileTime.h"

#include <sys/stat.h>

namespace kv::platform {

int64_t fileModificationTime(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        return 0;
    }
    return static_cast<int64_t>(status.st_mtime);
}

} // namespace kv::platform
