#include "platform/Processes.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <system_error>
#include <thread>

extern char** environ;

namespace kv::platform {

namespace {

// What /proc shows as the executable of a process whose file was deleted or replaced.
constexpr char kDeletedSuffix[] = " (deleted)";

bool isDecimal(const std::string& text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

} // namespace

std::vector<int> processesOfExecutable(const std::string& path) {
    std::error_code error;
    const std::filesystem::path wanted = std::filesystem::weakly_canonical(path, error);
    if (error) {
        return {};
    }
    const std::string wantedText = wanted.string();
    const std::string replacedText = wantedText + kDeletedSuffix;
    const int self = static_cast<int>(::getpid());

    std::vector<int> found;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename().string();
        if (!isDecimal(name) || std::stoi(name) == self) {
            continue;
        }
        struct stat owner {};
        if (::stat(entry.path().c_str(), &owner) != 0 || owner.st_uid != ::geteuid()) {
            continue;
        }
        std::error_code linkError;
        const std::string executable =
            std::filesystem::read_symlink(entry.path() / "exe", linkError).string();
        if (!linkError && (executable == wantedText || executable == replacedText)) {
            found.push_back(std::stoi(name));
        }
    }
    return found;
}

bool waitForProcessEnd(int pid, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    const int handle = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (handle >= 0) {
        pollfd ended{handle, POLLIN, 0};
        int ready = 0;
        do {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            ready = ::poll(&ended, 1, static_cast<int>(std::max<int64_t>(left.count(), 0)));
        } while (ready < 0 && errno == EINTR);
        ::close(handle);
        return ready > 0;
    }
    if (errno == ESRCH) {
        return true;
    }
    // Kernels without process handles: ask for the process until it is gone.
    while (::kill(pid, 0) == 0 || errno != ESRCH) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

int startDetached(const std::string& program, const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);

    // Detached from the starter's terminal and pipes too, which may close before it ends.
    posix_spawn_file_actions_t streams;
    ::posix_spawn_file_actions_init(&streams);
    ::posix_spawn_file_actions_addopen(&streams, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    ::posix_spawn_file_actions_addopen(&streams, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    ::posix_spawn_file_actions_addopen(&streams, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_t attributes;
    ::posix_spawnattr_init(&attributes);
    ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    pid_t pid = -1;
    const int result =
        ::posix_spawn(&pid, program.c_str(), &streams, &attributes, argv.data(), environ);
    ::posix_spawnattr_destroy(&attributes);
    ::posix_spawn_file_actions_destroy(&streams);
    return result == 0 ? static_cast<int>(pid) : -1;
}

} // namespace kv::platform
