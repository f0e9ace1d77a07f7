// Restarts a program that is about to quit: waits until every process running the program's
// executable has ended, then starts it again.

#include "LauncherArguments.h"
#include "platform/Processes.h"

#include <chrono>
#include <cstdio>

namespace {

// A program that has not quit by then was not quitting; starting it again would only raise it.
constexpr std::chrono::seconds kWaitLimit{60};

} // namespace

int main(int argc, char** argv) {
    const auto arguments = kv::launcher::parseLauncherArguments(argc, argv);
    if (!arguments) {
        std::fprintf(stderr, "usage: app_launcher --name NAME --path PATH [--flags N]\n");
        return 2;
    }

    const auto deadline = std::chrono::steady_clock::now() + kWaitLimit;
    for (const int pid : kv::platform::processesOfExecutable(arguments->path)) {
        std::printf("app_launcher: waiting for %s (process %d) to end\n", arguments->name.c_str(),
                    pid);
        std::fflush(stdout);
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (!kv::platform::waitForProcessEnd(pid, left)) {
            std::fprintf(stderr, "app_launcher: %s did not end\n", arguments->name.c_str());
            return 1;
        }
    }

    if ((arguments->flags & kv::launcher::kRestartFlag) == 0) {
        return 0;
    }
    const int started = kv::platform::startDetached(arguments->path, {});
    if (started < 0) {
        std::fprintf(stderr, "app_launcher: cannot start %s\n", arguments->path.c_str());
        return 1;
    }
    std::printf("app_launcher: started %s (process %d)\n", arguments->path.c_str(), started);
    return 0;
}
