#include "DeviceSimulator.h"

#include "kvcurl/kvcurl.h"

#include <unistd.h>

#include <atomic>
#include <stdexcept>
#include <vector>

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

std::vector<std::string> simulator(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {"python3", KV_DEVICE_SIMULATOR_SCRIPT});
    return arguments;
}

std::vector<std::string> arguments(const std::string& address, const DeviceSimulator::Options& o) {
    std::vector<std::string> list = {"--address", address,   "--serial",     o.serial,
                                     "--version", o.version, "--watch-stdin"};
    for (const auto& [on, flag] : {std::pair{o.danteCapable, "--dante-capable"},
                                   std::pair{o.danteRunning, "--dante-running"}}) {
        if (on) {
            list.push_back(flag);
        }
    }
    for (const auto& [value, option] :
         {std::pair{&o.behaviour, "--config"}, std::pair{&o.imageFile, "--image-file"}}) {
        if (!value->empty()) {
            list.insert(list.end(), {option, *value});
        }
    }
    return simulator(list);
}

} // namespace

// The device prints "READY <address>" once all its ports listen.
DeviceSimulator::DeviceSimulator(const Options& options)
    : address_(nextAddress()), process_(arguments(address_, options)) {
    if (process_.firstLine() != "READY " + address_) {
        throw std::runtime_error("device simulator did not start: '" + process_.firstLine() + "'");
    }
}

rapidjson::Document DeviceSimulator::state() const {
    // Bounded, so that a device that stopped answering fails the test instead of holding it.
    const auto reply = kvcurl::get(controlUrl(address_, "/lab/state"), 10000);
    rapidjson::Document document;
    document.Parse(reply->body.c_str());
    if (reply->code != 200 || !document.IsObject()) {
        throw std::runtime_error("device state unavailable: " + reply->error);
    }
    return document;
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
    if (!runToEnd(simulator({"--make-image", path, "--image-version", version, "--image-size",
                             std::to_string(size)}))) {
        throw std::runtime_error("cannot make image " + path);
    }
}

} // namespace kv::test
