#include "platform/FileOpening.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

namespace kv::platform {

namespace {

constexpr mode_t kNewFileMode = 0666;
// Another process may remove a file between two attempts to append to it or create it.
constexpr int kAttempts = 3;

// Not blocking while opening: a FIFO planted at the path would wait for a writer.
FilePtr openFile(const std::string& path, int flags, const char* mode) {
    const int fd = ::open(path.c_str(), flags | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, kNewFileMode);
    if (fd == -1) {
        return nullptr;
    }
    struct stat status {};
    int error = 0;
    if (::fstat(fd, &status) != 0) {
        error = errno;
    } else if (!S_ISREG(status.st_mode)) {
        error = EINVAL;
    } else if (::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
        error = errno;
    } else if (FilePtr file{::fdopen(fd, mode)}) {
        return file;
    } else {
        error = errno;
    }
    ::close(fd);
    errno = error;
    return nullptr;
}

} // namespace

FilePtr openForReading(const std::string& path) {
    return openFile(path, O_RDONLY, "r");
}

FilePtr openForAppending(const std::string& path) {
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        if (FilePtr file = openFile(path, O_RDWR | O_APPEND, "a+"); file || errno != ENOENT) {
            return file;
        }
        if (FilePtr file = openFile(path, O_RDWR | O_APPEND | O_CREAT | O_EXCL, "a+");
            file || errno != EEXIST) {
            return file;
        }
    }
    return nullptr;
}

bool emptyFile(std::FILE* file) {
    return std::fflush(file) == 0 && ::ftruncate(::fileno(file), 0) == 0 &&
           std::fseek(file, 0, SEEK_SET) == 0;
}

FilePtr createReplacing(const std::string& path) {
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
            return nullptr;
        }
        if (FilePtr file = openFile(path, O_RDWR | O_CREAT | O_EXCL, "w+");
            file || errno != EEXIST) {
            return file;
        }
    }
    return nullptr;
}

bool replaceWhole(const std::string& path, const std::string& content) {
    const std::string temporary = path + ".new";
    FilePtr file = createReplacing(temporary);
    if (!file) {
        return false;
    }
    const bool written =
        std::fwrite(content.data(), 1, content.size(), file.get()) == content.size();
    if (std::fclose(file.release()) == 0 && written &&
        std::rename(temporary.c_str(), path.c_str()) == 0) {
        return true;
    }
    std::remove(temporary.c_str());
    return false;
}

bool createPrivateFolder(const std::string& path) {
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) {
        return true;
    }
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    if (!parent.empty()) {
        std::filesystem::create_directories(parent, error);
    }
    return ::mkdir(path.c_str(), 0700) == 0 || std::filesystem::is_directory(path, error);
}

} // namespace kv::platform
