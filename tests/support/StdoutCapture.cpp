#include "StdoutCapture.h"

#include <unistd.h>

#include <cstdio>
#include <stdexcept>

namespace kv::test {

StdoutCapture::StdoutCapture() : file_(std::tmpfile()) {
    if (file_ == nullptr) {
        throw std::runtime_error("tmpfile failed");
    }
    std::fflush(stdout);
    savedFd_ = ::dup(STDOUT_FILENO);
    ::dup2(::fileno(file_), STDOUT_FILENO);
}

StdoutCapture::~StdoutCapture() {
    std::fflush(stdout);
    ::dup2(savedFd_, STDOUT_FILENO);
    ::close(savedFd_);
    std::fclose(file_);
}

std::string StdoutCapture::text() const {
    std::fflush(stdout);
    std::string text;
    char chunk[4096];
    for (ssize_t got; (got = ::pread(::fileno(file_), chunk, sizeof(chunk),
                                     static_cast<off_t>(text.size()))) > 0;) {
        text.append(chunk, static_cast<size_t>(got));
    }
    return text;
}

} // namespace kv::test
