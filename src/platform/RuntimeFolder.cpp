#include "platform/RuntimeFolder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace kv::platform {

namespace {

// A folder that another user could write to would let them plant or replace what it holds.
bool isOwnFolder(const std::string& path, bool followLink) {
    struct stat status {};
    const int result = followLink ? ::stat(path.c_str(), &status) : ::lstat(path.c_str(), &status);
    return result == 0 && S_ISDIR(status.st_mode) && status.st_uid == ::geteuid() &&
           (status.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

} // namespace

std::optional<std::string> userRuntimeFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/' && isOwnFolder(runtime, true)) {
        return std::string(runtime);
    }
    const char* temporary = std::getenv("TMPDIR");
    const std::string folder =
        std::string(temporary != nullptr && temporary[0] == '/' ? temporary : "/tmp") +
        "/kvportal-" + std::to_string(::geteuid());
    ::mkdir(folder.c_str(), 0700);
    // Made by someone else before this user came: not this user's to use.
    if (!isOwnFolder(folder, false)) {
        return std::nullopt;
    }
    return folder;
}

} // namespace kv::platform
