#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace kv::platform {

// This user's processes that run the given executable, also when the file has been replaced
// since they started; the calling process is left out.
std::vector<int> processesOfExecutable(const std::string& path);

// True once the process has ended, false when the time-out came first.
bool waitForProcessEnd(int pid, std::chrono::milliseconds timeout);

// Starts the program in a session of its own, its standard streams on /dev/null, and does not
// wait for it; the process id, or -1 when it could not be started.
int startDetached(const std::string& program, const std::vector<std::string>& arguments);

} // namespace kv::platform
