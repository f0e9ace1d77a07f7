#pragma once

#include <cstddef>
#include <string>

namespace kv::platform {

// A small block of memory that the user's own processes share, kept as a file of mode 0600 in
// the user's runtime folder, with a lock across processes beside it. A file there that belongs
// to someone else is never used: it is replaced.
class SessionBlock {
public:
    // Opens the named block, making it, zero-filled, when it is missing.
    SessionBlock(const std::string& name, std::size_t size);
    // Leaves the block; the system does the same for a process that dies.
    ~SessionBlock();
    SessionBlock(const SessionBlock&) = delete;
    SessionBlock& operator=(const SessionBlock&) = delete;

    // False when the block could not be opened; `failure` then says why.
    bool isAttached() const { return data_ != nullptr; }
    const std::string& failure() const { return failure_; }

    bool lock();
    bool unlock();
    // The block while attached, else null.
    void* data() const { return data_; }

    // Counts this process among the block's holders until it leaves, and tells whether live
    // processes hold it besides. Call it with the lock held.
    bool joinAndFindOthers();

private:
    int blockFd_ = -1;
    int lockFd_ = -1;
    void* data_ = nullptr;
    std::size_t size_ = 0;
    std::string failure_;
};

} // namespace kv::platform
