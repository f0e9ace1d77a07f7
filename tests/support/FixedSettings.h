#pragma once

#include "core/IProxy.h"

#include <cstdlib>
#include <map>
#include <mutex>
#include <string>

namespace kv::test {

// Settings a test decides, for cores under test; it starts no programs.
class FixedSettings : public kv::portal::IProxy {
public:
    void set(const std::string& key, const std::string& value) {
        std::lock_guard<std::mutex> lock(mutex_);
        values_[key] = value;
    }

    std::string getString(const char* key, const std::string& defaultValue) override {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto found = values_.find(key);
        return found == values_.end() ? defaultValue : found->second;
    }

    int getInt(const char* key, int defaultValue) override {
        const std::string value = getString(key, "");
        return value.empty() ? defaultValue : std::atoi(value.c_str());
    }

    int runProgram(const char*, const char*, int, const char* const*, bool) override { return -1; }
    int runInstaller(const char*, const char*) override { return -1; }

private:
    std::mutex mutex_;
    std::map<std::string, std::string> values_;
};

} // namespace kv::test
