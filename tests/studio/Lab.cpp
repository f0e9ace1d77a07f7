#include "Lab.h"

#include <rapidjson/document.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

extern char** environ;

namespace kv::test {
namespace {

constexpr int kCannotCreateNamespace = 77;

struct Outcome {
    int status = -1;
    std::string output;
    std::string errors;
};

// Runs a program with its standard output and error collected.
Outcome runProgram(const std::vector<std::string>& command) {
    char errorsPath[] = "/tmp/kvnetlab-XXXXXX";
    const int errorsFd = ::mkstemp(errorsPath);
    int pipeFds[2];
    if (errorsFd < 0 || ::pipe(pipeFds) != 0) {
        throw std::runtime_error("cannot run " + command.front());
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, errorsFd, STDERR_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    std::vector<char*> argv;
    for (const auto& argument : command) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    Outcome outcome;
    if (spawned == 0) {
        char chunk[4096];
        ssize_t got = 0;
        while ((got = ::read(pipeFds[0], chunk, sizeof(chunk))) > 0) {
            outcome.output.append(chunk, static_cast<size_t>(got));
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    ::close(pipeFds[0]);
    ::close(errorsFd);
    std::ifstream errors(errorsPath);
    std::ostringstream text;
    text << errors.rdbuf();
    outcome.errors = text.str();
    ::unlink(errorsPath);
    if (spawned != 0) {
        throw std::runtime_error("cannot run " + command.front());
    }
    return outcome;
}

std::vector<std::string> netlab(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {"python3", KV_NETLAB_SCRIPT});
    return arguments;
}

Outcome runNetlab(const std::vector<std::string>& arguments) {
    Outcome outcome = runProgram(netlab(arguments));
    if (outcome.status != 0 && outcome.status != kCannotCreateNamespace) {
        throw std::runtime_error("netlab " + arguments.front() + " failed: " + outcome.errors);
    }
    return outcome;
}

std::vector<std::string> handles(const std::string& output) {
    std::vector<std::string> lines;
    std::istringstream in(output);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty()) {
            lines.push_back(line);
        }
    }
    return lines;
}

// One JSON line for netlab's publish-many.
std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof(escaped), "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string quotedList(const std::vector<std::string>& items) {
    std::string out = "[";
    for (const auto& item : items) {
        out += (out.size() > 1 ? "," : "") + quoted(item);
    }
    return out + "]";
}

// Writes the announcements as netlab's JSON lines and hands them to the given command.
Outcome publish(const std::string& command, const std::string& lab,
                const std::vector<Lab::Address>& addresses,
                const std::vector<Lab::Service>& services) {
    char path[] = "/tmp/kvnetlab-publish-XXXXXX";
    const int fd = ::mkstemp(path);
    if (fd < 0) {
        throw std::runtime_error("cannot write the announcements");
    }
    ::close(fd);
    {
        std::ofstream out(path);
        for (const auto& address : addresses) {
            out << "{\"address\": " << quotedList({address.host, address.ip}) << "}\n";
        }
        for (const auto& service : services) {
            out << "{\"service\": [" << quoted(service.instance) << "," << quoted(service.type)
                << "," << service.port << "], \"host\": " << quoted(service.host)
                << ", \"subtypes\": " << quotedList(service.subtypes)
                << ", \"txt\": " << quotedList(service.txt) << "}\n";
        }
    }
    try {
        Outcome outcome = runNetlab({command, lab, path});
        ::unlink(path);
        return outcome;
    } catch (...) {
        ::unlink(path);
        throw;
    }
}

} // namespace

Lab::Announcement::Announcement(std::string labName, std::string handle)
    : labName_(std::move(labName)), handle_(std::move(handle)) {}

Lab::Announcement::~Announcement() {
    try {
        withdraw();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
    }
}

void Lab::Announcement::withdraw() {
    if (!handle_.empty()) {
        runNetlab({"withdraw", labName_, handle_});
        handle_.clear();
    }
}

std::unique_ptr<Lab> Lab::start(std::string& cannot) {
    // Labs of test programs that crashed are brought down first.
    runNetlab({"gc"});
    const Outcome outcome = runNetlab({"up", "--owner", std::to_string(::getpid())});
    if (outcome.status == kCannotCreateNamespace) {
        cannot = outcome.errors;
        return nullptr;
    }
    rapidjson::Document description;
    description.Parse(outcome.output.c_str());
    if (description.HasParseError() || !description.IsObject()) {
        throw std::runtime_error("netlab up said: " + outcome.output);
    }
    return std::unique_ptr<Lab>(new Lab(description["name"].GetString(),
                                        description["subnet"].GetString(),
                                        description["bus"].GetString()));
}

Lab::Lab(std::string name, std::string subnet, std::string bus)
    : name_(std::move(name)), subnet_(std::move(subnet)), bus_(std::move(bus)) {}

Lab::~Lab() {
    try {
        runNetlab({"down", name_});
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
    }
}

std::string Lab::address(int host) const {
    return subnet_ + "." + std::to_string(host);
}

void Lab::addAddress(const std::string& ip) const {
    runNetlab({"address", name_, ip});
}

std::unique_ptr<Lab::Announcement> Lab::publishAddress(const std::string& host,
                                                       const std::string& ip) const {
    auto published = publishMany({{host, ip}}, {});
    return std::move(published.front());
}

std::unique_ptr<Lab::Announcement> Lab::publishService(const Service& service) const {
    auto published = publishMany({}, {service});
    return std::move(published.front());
}

std::vector<std::unique_ptr<Lab::Announcement>>
Lab::publishMany(const std::vector<Address>& addresses,
                 const std::vector<Service>& services) const {
    const Outcome outcome = publish("publish-many", name_, addresses, services);
    std::vector<std::unique_ptr<Announcement>> published;
    for (const auto& handle : handles(outcome.output)) {
        published.push_back(std::make_unique<Announcement>(name_, handle));
    }
    if (published.size() != addresses.size() + services.size()) {
        throw std::runtime_error("netlab published " + std::to_string(published.size()) +
                                 " announcements: " + outcome.errors);
    }
    return published;
}

void Lab::publishStatic(const std::vector<Address>& addresses,
                        const std::vector<Service>& services) const {
    publish("publish-static", name_, addresses, services);
}

void Lab::withdraw(std::vector<std::unique_ptr<Announcement>>& announcements) const {
    std::vector<std::string> arguments{"withdraw", name_};
    for (auto& announcement : announcements) {
        if (!announcement->handle_.empty()) {
            arguments.push_back(announcement->handle_);
            announcement->handle_.clear();
        }
    }
    if (arguments.size() > 2) {
        runNetlab(arguments);
    }
    announcements.clear();
}

void Lab::stopAvahi() const {
    runNetlab({"stop-avahi", name_});
}

void Lab::restartAvahi() const {
    runNetlab({"restart-avahi", name_});
}

int Lab::run(const std::vector<std::string>& command, std::string* output) const {
    std::vector<std::string> arguments{"exec", name_, "--"};
    arguments.insert(arguments.end(), command.begin(), command.end());
    const Outcome outcome = runProgram(netlab(arguments));
    if (output != nullptr) {
        *output = outcome.output;
    }
    return outcome.status;
}

int threadCount() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Threads:", 0) == 0) {
            return std::atoi(line.c_str() + 8);
        }
    }
    return 0;
}

} // namespace kv::test
