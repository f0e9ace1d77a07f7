#include "LabProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>

extern char** environ;

namespace kv::test {
namespace {

// The process, or -1 when it could not start.
pid_t spawn(std::vector<std::string>& command, const posix_spawn_file_actions_t* actions) {
    std::vector<char*> argv;
    for (std::string& argument : command) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    return posix_spawnp(&pid, argv[0], actions, nullptr, argv.data(), environ) == 0 ? pid : -1;
}

} // namespace

LabProcess::LabProcess(std::vector<std::string> command) {
    // Close-on-exec, so that a second process does not hold the first one's input open.
    int input[2] = {-1, -1};
    int output[2] = {-1, -1};
    if (::pipe2(input, O_CLOEXEC) == 0 && ::pipe2(output, O_CLOEXEC) == 0) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
        pid_ = spawn(command, &actions);
        posix_spawn_file_actions_destroy(&actions);
    }
    ::close(input[0]);
    ::close(output[1]);
    stdinFd_ = input[1];
    for (char c = 0; pid_ > 0 && ::read(output[0], &c, 1) == 1 && c != '\n';) {
        firstLine_ += c;
    }
    ::close(output[0]);
    if (pid_ <= 0) {
        ::close(stdinFd_);
        throw std::runtime_error("cannot start " + command.front());
    }
}

LabProcess::~LabProcess() {
    ::close(stdinFd_);
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
}

bool runToEnd(std::vector<std::string> command) {
    const pid_t pid = spawn(command, nullptr);
    int status = 0;
    return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

} // namespace kv::test
