#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace kv::test {

// A helper process of the lab (a simulator or a server) for as long as this object lives. It
// ends when its standard input closes, so a test that dies takes it along; its first line of
// output tells that it is ready.
class LabProcess {
public:
    // Starts the command (found on PATH) and waits for its first line.
    explicit LabProcess(std::vector<std::string> command);
    ~LabProcess();
    LabProcess(const LabProcess&) = delete;
    LabProcess& operator=(const LabProcess&) = delete;

    const std::string& firstLine() const { return firstLine_; }

private:
    pid_t pid_ = -1;
    int stdinFd_ = -1;
    std::string firstLine_;
};

// Runs a command to its end; true when it exited with 0.
bool runToEnd(std::vector<std::string> command);

} // namespace kv::test
