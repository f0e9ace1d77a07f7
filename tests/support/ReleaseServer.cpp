#include "ReleaseServer.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <vector>

extern char** environ;

namespace kv::test {
namespace {

// Reads the first line the server prints: its port, once it accepts connections.
int readPort(int fd) {
    std::string line;
    char c = 0;
    while (::read(fd, &c, 1) == 1 && c != '\n') {
        line += c;
    }
    const int port = std::atoi(line.c_str());
    if (port <= 0) {
        throw std::runtime_error("release server did not start: '" + line + "'");
    }
    return port;
}

} // namespace

ReleaseServer::ReleaseServer(const std::string& root, const std::string& certificate,
                             const std::string& key) {
    std::vector<std::string> arguments = {"python3", KV_RELEASE_SERVER_SCRIPT, "--root", root,
                                          "--exit-with-stdin"};
    if (!certificate.empty()) {
        arguments.insert(arguments.end(), {"--cert", certificate, "--key", key});
    }
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);

    int input[2];
    int output[2];
    // Close-on-exec, so that a second server does not hold the first one's input open.
    if (::pipe2(input, O_CLOEXEC) != 0 || ::pipe2(output, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, input[1]);
    posix_spawn_file_actions_addclose(&actions, output[0]);
    const int spawned = posix_spawnp(&pid_, "python3", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(input[0]);
    ::close(output[1]);
    stdinFd_ = input[1];
    if (spawned != 0) {
        ::close(output[0]);
        ::close(stdinFd_);
        throw std::runtime_error("cannot start python3");
    }
    try {
        port_ = readPort(output[0]);
    } catch (...) {
        ::close(output[0]);
        ::close(stdinFd_);
        ::waitpid(pid_, nullptr, 0);
        throw;
    }
    ::close(output[0]);
    base_ =
        (certificate.empty() ? "http://127.0.0.1:" : "https://127.0.0.1:") + std::to_string(port_);
}

ReleaseServer::~ReleaseServer() {
    ::close(stdinFd_);
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
}

} // namespace kv::test
