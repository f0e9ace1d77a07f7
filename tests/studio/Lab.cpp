#include "Lab.h"

#include "TempDir.h"

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

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
Outcome netlab(const std::vector<std::string>& arguments, bool anyStatus = false) {
    const TempDir scratch;
    std::string command = "python3 '" KV_NETLAB_SCRIPT "'";
    for (const std::string& argument : arguments) {
        std::string quoted = "'";
        for (char c : argument) {
            quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
        }
        command += " " + quoted + "'";
    }
    const int status = std::system(
        (command + " >" + scratch.file("output") + " 2>" + scratch.file("errors")).c_str());
    Outcome outcome{WIFEXITED(status) ? WEXITSTATUS(status) : -1, readFile(scratch.file("output")),
                    readFile(scratch.file("errors"))};
    if (!anyStatus && outcome.status != 0 && outcome.status != kCannotCreateNamespace) {
        throw std::runtime_error("netlab " + arguments[0] + " failed: " + outcome.errors);
    }
    return outcome;
}

// A JSON string or list of strings, for netlab's publish commands.
std::string quoted(const std::string& text) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    writer.String(text.c_str(), static_cast<rapidjson::SizeType>(text.size()));
    return buffer.GetString();
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
