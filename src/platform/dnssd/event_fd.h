#pragma once

namespace kvdns_sd {

// An eventfd that is readable from signal() until clear().
class event_fd {
public:
    event_fd();
    ~event_fd();
    event_fd(const event_fd&) = delete;
    event_fd& operator=(const event_fd&) = delete;

    bool valid() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    void signal();
    void clear();

private:
    const int fd_;
};

} // namespace kvdns_sd
