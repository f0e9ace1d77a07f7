#include "platform/FileIdentity.h"

#include <sys/stat.h>

namespace kv::platform {

namespace {

int64_t nanoseconds(const timespec& time) {
    return static_cast<int64_t>(time.tv_sec) * 1000000000 + time.tv_nsec;
}

} // namespace

std::optional<FileIdentity> fileIdentity(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
        return std::nullopt;
    }
    FileIdentity identity;
    identity.size = static_cast<uint64_t>(status.st_size);
    identity.modifiedNs = nanoseconds(status.st_mtim);
    identity.device = static_cast<uint64_t>(status.st_dev);
    identity.inode = static_cast<uint64_t>(status.st_ino);
    identity.changedNs = nanoseconds(status.st_ctim);
    return identity;
}

} // namespace kv::platform
