#pragma once

#include <string>

namespace kv::platform {

// An exclusive lock across processes on a file, held from construction to destruction. The
// system releases it when its holder dies, so a killed process never leaves it taken.
class FileLock {
public:
    // Waits for the lock, creating the file when needed.
    explicit FileLock(const std::string& path);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // False when the file could not be opened or locked; the section then runs unguarded.
    bool isLocked() const { return locked_; }

private:
    int fd_ = -1;
    bool locked_ = false;
};

} // namespace kv::platform
