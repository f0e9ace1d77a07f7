#include "DeviceSimulator.h"

#include "kvcurl/kvcurl.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <stdexcept>
#include <vector>

extern char** environ;

namespace kv::test {

namespace {

// Tests run in parallel: each process takes addresses from its own process id, and each
// device of a process one of its own.
std::string nextAddress() {
    static std::atomic<int> devices{0};
    const int index = devices++;
    const pid_t pid = ::getpid();
    return "127." + std::to_string(100 + index % 150) + "." + std::to_string((pid >> 8) & 0xff) +
           "." + std::to_string(pid & 0xff);
}

std::string controlUrl(const std::string& address, const char* path) {
    return "http://" + address + ":8099" + path;
}

pid_t spawnPython(std::vector<std::string> arguments, const posix_spawn_file_actions_t* actions) {
    arguments.insert(arguments.begin(), {"python3", KV_DEVICE_SIMULATOR_SCRIPT});
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawnp(&pid, "python3", actions, nullptr, argv.data(), environ) != 0) {
        throw std::runtime_error("cannot start python3");
    }
    return pid;
}

} // namespace

DeviceSimulator::DeviceSimulator(const Options& options) : address_(nextAddress()) {
    std::vector<std::string> arguments = {"--address",    address_,    "--serial",
                                          options.serial, "--version", options.version,
                                          "--watch-stdin"};
    if (options.danteCapable) {
        arguments.push_back("--dante-capable");
    }
    if (options.danteRunning) {
        arguments.push_back("--dante-running");
    }
    if (!options.behaviour.empty()) {
        arguments.insert(arguments.end(), {"--config", options.behaviour});
    }
    if (!options.imageFile.empty()) {
        arguments.insert(arguments.end(), {"--image-file", options.imageFile});
    }

    int input[2];
    int output[2];
    // Close-on-exec, so that a second device does not hold the first one's input open.
    if (::pipe2(input, O_CLOEXEC) != 0 || ::pipe2(output, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    try {
        pid_ = spawnPython(arguments, &actions);
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

    // The device prints "READY <address>" once all its ports listen.
    std::string line;
    char c = 0;
    while (::read(output[0], &c, 1) == 1 && c != '\n') {
        line += c;
    }
    ::close(output[0]);
    if (line != "READY " + address_) {
        ::close(stdinFd_);
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
        throw std::runtime_error("device simulator did not start: '" + line + "'");
    }
}

DeviceSimulator::~DeviceSimulator() {
    ::close(stdinFd_);
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
}

rapidjson::Document DeviceSimulator::state() const {
    const auto reply = kvcurl::get(controlUrl(address_, "/lab/state"));
    rapidjson::Document document;
    document.Parse(reply->body.c_str());
    if (reply->code != 200 || !document.IsObject()) {
        throw std::runtime_error("device state unavailable: " + reply->error);
    }
    return document;
}

int DeviceSimulator::counter(const char* name) const {
    const rapidjson::Document document = state();
    return document["counters"][name].GetInt();
}

std::string DeviceSimulator::version() const {
    return state()["version"].GetString();
}

void DeviceSimulator::configure(const std::string& behaviour) {
    const char* const headers[] = {"Content-Type: application/json"};
    const auto reply = kvcurl::post(controlUrl(address_, "/lab/config"), headers, 1,
                                    behaviour.c_str(), static_cast<long>(behaviour.size()));
    if (reply->code != 200) {
        throw std::runtime_error("device refused settings: " + reply->body);
    }
}

void DeviceSimulator::makeImage(const std::string& path, const std::string& version, long size) {
    const pid_t pid = spawnPython(
        {"--make-image", path, "--image-version", version, "--image-size", std::to_string(size)},
        nullptr);
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        throw std::runtime_error("cannot make image " + path);
    }
}

} // namespace kv::test
