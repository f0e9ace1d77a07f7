#include "platform/FileLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

namespace kv::platform {

FileLock::FileLock(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ == -1) {
        return;
    }
    int result;
    do {
        result = ::flock(fd_, LOCK_EX);
    } while (result == -1 && errno == EINTR);
    locked_ = result == 0;
}

FileLock::~FileLock() {
    if (fd_ != -1) {
        // Closing releases the lock; the file stays, as removing it would race with a waiter.
        ::close(fd_);
    }
}

} // namespace kv::platform
