#include "StdoutCapture.h"

#include "TempDir.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace kv::test {

StdoutCapture::StdoutCapture() {
    char pattern[] = "/tmp/kvstdout-XXXXXX";
    const int fd = ::mkstemp(pattern);
    if (fd < 0) {
        throw std::runtime_error("mkstemp failed");
    }
    path_ = pattern;
    std::fflush(stdout);
    savedFd_ = ::dup(STDOUT_FILENO);
    ::dup2(fd, STDOUT_FILENO);
    ::close(fd);
}

StdoutCapture::~StdoutCapture() {
    std::fflush(stdout);
    ::dup2(savedFd_, STDOUT_FILENO);
    ::close(savedFd_);
    ::unlink(path_.c_str());
}

std::string StdoutCapture::text() const {
    std::fflush(stdout);
    return readFile(path_);
}

} // namespace kv::test
