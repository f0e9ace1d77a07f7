#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace kv::platform {

// What changes when a file's content may have changed: a rewrite moves the modification and
// change times, a replacement the inode.
struct FileIdentity {
    uint64_t size = 0;
    int64_t modifiedNs = 0;
    uint64_t device = 0;
    uint64_t inode = 0;
    int64_t changedNs = 0;

    bool operator==(const FileIdentity& other) const {
        return size == other.size && modifiedNs == other.modifiedNs && device == other.device &&
               inode == other.inode && changedNs == other.changedNs;
    }
    bool operator!=(const FileIdentity& other) const { return !(*this == other); }
};

// Empty when the path names no regular file.
std::optional<FileIdentity> fileIdentity(const std::string& path);

} // namespace kv::platform
