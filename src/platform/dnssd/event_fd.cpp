#include "event_fd.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

namespace kvdns_sd {

event_fd::event_fd() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

event_fd::~event_fd() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

void event_fd::signal() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(fd_, &one, sizeof(one));
}

void event_fd::clear() {
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t got = ::read(fd_, &count, sizeof(count));
}

} // namespace kvdns_sd
