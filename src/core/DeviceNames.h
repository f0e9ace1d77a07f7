#pragma once

#include <mutex>
#include <set>
#include <string>

namespace kv::portal {

// Why a name that a device announces cannot be a product's name, or null when it can. The name
// reaches the log, the console and the status file, and names the products of applications.
const char* deviceNameProblem(const std::string& name);

// The name as a log line may carry it: control bytes written "\DDD" and a backslash "\\", as
// DNS-SD writes names.
std::string printableName(const std::string& name);

// The names refused so far, so that a device announcing itself again is reported once.
class RefusedNames {
public:
    // True the first time the name is given.
    bool firstRefusal(const std::string& name);

private:
    std::mutex mutex_;
    std::set<std::string> names_;
};

} // namespace kv::portal
