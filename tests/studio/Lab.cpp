#include "Lab.h"

#include "TempDir.h"

#include <fcntl.h>
#include <rapidjson/document.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace kv::test {
namespace {

constexpr int kCannotCreateNamespace = 77;

struct Outcome {
    int status = -1;
    std::string output;
    std::string errors;
};

// Runs netlab with the arguments, its standard output and error collected; any failure but the
// one that says no namespace can be made throws, unless the caller wants the status.
Outcome netlab(std::vector<std::string> arguments, bool anyStatus = false) {
    arguments.insert(arguments.begin(), {"python3", KV_NETLAB_SCRIPT});
    const TempDir scratch;
    const std::string errorsPath = scratch.file("errors");
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) {
        throw std::runtime_error("cannot run netlab");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errorsPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    std::vector<char*> argv;
    for (auto& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    Outcome outcome;
    char chunk[4096];
    for (ssize_t got = 0; spawned == 0 && (got = ::read(pipeFds[0], chunk, sizeof(chunk))) > 0;) {
        outcome.output.append(chunk, static_cast<size_t>(got));
    }
    ::close(pipeFds[0]);
    int status = 0;
    if (spawned != 0 || ::waitpid(pid, &status, 0) != pid) {
        throw std::runtime_error("cannot run netlab");
    }
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    outcome.errors = readFile(errorsPath);
    if (!anyStatus && outcome.status != 0 && outcome.status != kCannotCreateNamespace) {
        throw std::runtime_error("netlab " + arguments[2] + " failed: " + outcome.errors);
    }
    return outcome;
}

// A JSON string or list of strings, for netlab's publish commands.
std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        char escaped[8];
        std::snprintf(escaped, sizeof(escaped), c < 0x20 ? "\\u%04x" : "%c", c);
        out += c == '"' || c == '\\' ? std::string{'\\', static_cast<char>(c)} : escaped;
    }
    return out + "\"";
}

std::string quoted(const std::vector<std::string>& items) {
    std::string out;
    for (const auto& item : items) {
        out += (out.empty() ? "" : ",") + quoted(item);
    }
    return "[" + out + "]";
}

// Hands the announcements to netlab's publish command as its JSON lines.
Outcome publish(const std::string& command, const std::string& lab,
                const std::vector<Lab::Address>& addresses,
                const std::vector<Lab::Service>& services) {
    std::ostringstream lines;
    for (const auto& address : addresses) {
        lines << "{\"address\": " << quoted({address.host, address.ip}) << "}\n";
    }
    for (const auto& service : services) {
        lines << "{\"service\": [" << quoted(service.instance) << "," << quoted(service.type) << ","
              << service.port << "], \"host\": " << quoted(service.host)
              << ", \"subtypes\": " << quoted(service.subtypes)
              << ", \"txt\": " << quoted(service.txt) << "}\n";
    }
    const TempDir scratch;
    writeFile(scratch.file("announcements"), lines.str());
    return netlab({command, lab, scratch.file("announcements")});
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
        netlab({"withdraw", labName_, handle_});
        handle_.clear();
    }
}

std::unique_ptr<Lab> Lab::start(std::string& cannot) {
    // Labs of test programs that crashed are brought down first.
    netlab({"gc"});
    const Outcome outcome = netlab({"up", "--owner", std::to_string(::getpid())});
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
        netlab({"down", name_});
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
    }
}

std::string Lab::address(int host) const {
    return subnet_ + "." + std::to_string(host);
}

void Lab::addAddress(const std::string& ip) const {
    netlab({"address", name_, ip});
}

std::unique_ptr<Lab::Announcement> Lab::publishAddress(const std::string& host,
                                                       const std::string& ip) const {
    return std::move(publishMany({{host, ip}}, {}).front());
}

std::unique_ptr<Lab::Announcement> Lab::publishService(const Service& service) const {
    return std::move(publishMany({}, {service}).front());
}

std::vector<std::unique_ptr<Lab::Announcement>>
Lab::publishMany(const std::vector<Address>& addresses,
                 const std::vector<Service>& services) const {
    const Outcome outcome = publish("publish-many", name_, addresses, services);
    std::vector<std::unique_ptr<Announcement>> published;
    std::istringstream handles(outcome.output);
    for (std::string handle; std::getline(handles, handle);) {
        if (!handle.empty()) {
            published.push_back(std::make_unique<Announcement>(name_, handle));
        }
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
        netlab(arguments);
    }
    announcements.clear();
}

void Lab::stopAvahi() const {
    netlab({"stop-avahi", name_});
}

void Lab::restartAvahi() const {
    netlab({"restart-avahi", name_});
}

int Lab::run(const std::vector<std::string>& command, std::string* output) const {
    std::vector<std::string> arguments{"exec", name_, "--"};
    arguments.insert(arguments.end(), command.begin(), command.end());
    const Outcome outcome = netlab(arguments, true);
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
