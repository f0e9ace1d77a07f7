#pragma once

#include "TempDir.h"

#include <chrono>
#include <functional>
#include <string>

namespace kv::test {

// The folders and settings a manager reads, private to the test program: a home folder for the
// downloads, the settings stores, the Program Files folder and the interface's runtime folder.
// Built before the application object, since Qt reads some of them only once.
class ManagerEnvironment {
public:
    ManagerEnvironment();

    // Writes the user's settings, replacing earlier ones; "key=value" lines.
    void setSettings(const std::string& lines);
    std::string downloadsDir() const;

private:
    TempDir root_;
};

// Waits for the condition without running the interface thread's events.
bool waitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::seconds(30));

// The catalogue address for tests: a loopback port that refuses at once.
constexpr char kUnreachableCatalogue[] = "http://127.0.0.1:9/dozoPublishConf.json";

} // namespace kv::test
