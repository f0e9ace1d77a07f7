#pragma once

#include <cstdio>
#include <string>

namespace kv::test {

// Sends the process's standard output to a file while it lives; text() reads what arrived.
class StdoutCapture {
public:
    StdoutCapture();
    ~StdoutCapture();
    StdoutCapture(const StdoutCapture&) = delete;
    StdoutCapture& operator=(const StdoutCapture&) = delete;

    std::string text() const;

private:
    std::FILE* file_;
    int savedFd_;
};

} // namespace kv::test
