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

pid_t spawn(std::vector<std::string>& command, const posix_spawn_file_actions_t* actions) {
    std::vector<char*> argv;
    for (std::string& argument : command) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], actions, nullptr, argv.data(), environ) != 0) {
        throw std::runtime_error("cannot start " + command.front());
    }
    return pid;
}

std::string readLine(int fd) {
    std::string line;
    char c = 0;
    while (::read(fd, &c, 1) == 1 && c != '\n') {
        line += c;
    }
    return line;
}

} // namespace

LabProcess::LabProcess(std::vector<std::string> command) {
    int input[2];
    int output[2];
    // Close-on-exec, so that a second process does not hold the first one's input open.
    if (::pipe2(input, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    if (::pipe2(output, O_CLOEXEC) != 0) {
        ::close(input[0]);
        ::close(input[1]);
        throw std::runtime_error("pipe failed");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    try {
        pid_ = spawn(command, &actions);
    } catch (...) {
        posix_spawn_file_actions_destroy(&actions);
        for (int fd : {input[0], input[1], output[0], output[1]}) {
            ::close(fd);
        }
        throw;
    }
    posix_spawn_file_actions_destroy(&actions);
    ::close(input[0]);
    ::close(output[1]);
    stdinFd_ = input[1];
    firstLine_ = readLine(output[0]);
    ::close(output[0]);
}

LabProcess::~LabProcess() {
    ::close(stdinFd_);
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
}

bool runToEnd(std::vector<std::string> command) {
    const pid_t pid = spawn(command, nullptr);
    int status = 0;
    return ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace kv::test
