#include "platform/SessionBlock.h"

#include "platform/RuntimeFolder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>

namespace kv::platform {

namespace {

bool isOwnPrivateFile(int fd) {
    struct stat status {};
    return ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_uid == ::geteuid() &&
           (status.st_mode & 077) == 0;
}

// The folder is the user's alone, so whatever else stands at the path may go.
int openOwnFile(const std::string& path) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd != -1 && isOwnPrivateFile(fd)) {
            return fd;
        }
        if (fd != -1) {
            ::close(fd);
        }
        if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
            return -1;
        }
    }
    return -1;
}

int flockRetried(int fd, int operation) {
    int result;
    do {
        result = ::flock(fd, operation);
    } while (result == -1 && errno == EINTR);
    return result;
}

} // namespace

SessionBlock::SessionBlock(const std::string& name, std::size_t size) : size_(size) {
    const std::optional<std::string> folder = userRuntimeFolder();
    if (!folder) {
        failure_ = "no runtime folder of the user's own";
        return;
    }
    const std::string path = *folder + "/" + name;
    lockFd_ = openOwnFile(path + ".lock");
    blockFd_ = openOwnFile(path);
    struct stat status {};
    if (lockFd_ == -1 || blockFd_ == -1 || ::fstat(blockFd_, &status) != 0 ||
        (static_cast<std::size_t>(status.st_size) < size &&
         ::ftruncate(blockFd_, static_cast<off_t>(size)) != 0)) {
        failure_ = path + ": " + std::strerror(errno);
        return;
    }
    void* mapped = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, blockFd_, 0);
    if (mapped == MAP_FAILED) {
        failure_ = path + ": " + std::strerror(errno);
        return;
    }
    data_ = mapped;
}

SessionBlock::~SessionBlock() {
    if (data_ != nullptr) {
        ::munmap(data_, size_);
    }
    for (const int fd : {blockFd_, lockFd_}) {
        if (fd != -1) {
            ::close(fd);
        }
    }
}

bool SessionBlock::lock() {
    return data_ != nullptr && flockRetried(lockFd_, LOCK_EX) == 0;
}

bool SessionBlock::unlock() {
    return data_ != nullptr && flockRetried(lockFd_, LOCK_UN) == 0;
}

// Every holder keeps a shared lock on the block's file: an exclusive one can be had only when
// no other process holds it.
bool SessionBlock::joinAndFindOthers() {
    if (blockFd_ == -1) {
        return false;
    }
    const bool others = flockRetried(blockFd_, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    flockRetried(blockFd_, LOCK_SH);
    return others;
}

} // namespace kv::platform
