#pragma once

#include "LabProcess.h"

#include <rapidjson/document.h>

#include <string>

namespace kv::test {

// One simulated device (studio/device_simulator.py) on a loopback address of its own, with
// its status service on port 80 and its command service on port 8080, while this object lives.
class DeviceSimulator {
public:
    struct Options {
        std::string serial = "KV0000001";
        std::string version = "1.0.0b1";
        bool danteCapable = false;
        bool danteRunning = false;
        // A JSON object of behaviour settings (see the script).
        std::string behaviour;
        // Where the device keeps the last image it received.
        std::string imageFile;
    };

    explicit DeviceSimulator(const Options& options);

    // The address discovery would report: an IPv4 text without scheme or port.
    const std::string& address() const { return address_; }

    // The device's state and counters, as its control endpoint reports them.
    rapidjson::Document state() const;
    int counter(const char* name) const { return state()["counters"][name].GetInt(); }
    std::string version() const { return state()["version"].GetString(); }
    void configure(const std::string& behaviour);

    // Writes a firmware image that makes the device report `version` after its reboot.
    static void makeImage(const std::string& path, const std::string& version, long size);

private:
    std::string address_;
    LabProcess process_;
};

} // namespace kv::test
