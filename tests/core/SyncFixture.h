#pragma once

#include "CoreTestEnvironment.h"
#include "FixedSettings.h"
#include "RecordingListener.h"
#include "ReleaseServer.h"
#include "TempDir.h"
#include "core/Core.h"
#include "ru_rod.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace kv::test {

// The sync's messages when the server cannot be reached and when its reply is unusable.
inline constexpr char kFailedToContact[] = "Failed to contact Kelmora Technologies Server";
inline constexpr char kInvalidReply[] = "Kelmora Technologies Server invalid reply";

// Lets a test wait for the end of a sync and read the messages the syncs ended with.
class SyncListener : public RecordingListener {
public:
    int started() const { return count("syncStarted"); }

    std::vector<std::string> messages() const { return finished(events()); }

    // The message of the count-th sync to finish, once it has.
    std::string waitForFinished(size_t count) {
        if (!waitUntil(
                [&](const std::vector<std::string>& seen) {
                    return finished(seen).size() >= count;
                },
                std::chrono::seconds(60))) {
            ADD_FAILURE() << "sync " << count << " did not finish";
            return "(no sync)";
        }
        return messages()[count - 1];
    }

private:
    static std::vector<std::string> finished(const std::vector<std::string>& events) {
        const std::string prefix = "syncFinished ";
        std::vector<std::string> messages;
        for (const std::string& event : events) {
            if (event.rfind(prefix, 0) == 0) {
                messages.push_back(event.substr(prefix.size()));
            }
        }
        return messages;
    }
};

// A core whose "publish_file" setting points at a release server of the test's own.
class SyncTest : public ::testing::Test {
protected:
    SyncTest() {
        ru_rod::openLogFile(logPath().c_str(), true);
        core = std::make_unique<kv::portal::Core>();
        auto proxy = std::make_unique<FixedSettings>();
        settings = proxy.get();
        core->setProxy(std::move(proxy));
        core->setIpcEnabled(true);
        core->addListener(&listener);
        settings->set("publish_file", publishUrl());
    }

    ~SyncTest() override {
        if (core) {
            core->removeListener(&listener);
        }
    }

    std::string publishUrl(const std::string& query = {}) const {
        return server.url("/dozoPublishConf.json" + query);
    }

    void publish(const std::string& json) {
        writeFile(releases.file("dozoPublishConf.json.part"), json);
        std::rename(releases.file("dozoPublishConf.json.part").c_str(),
                    releases.file("dozoPublishConf.json").c_str());
    }

    // Runs one sync to its end and gives its message.
    std::string sync() {
        const size_t before = listener.messages().size();
        core->startSync();
        return listener.waitForFinished(before + 1);
    }

    // Ends the core, waiting for its sync thread, so that every line is in the log.
    void stopCore() {
        core->removeListener(&listener);
        core.reset();
    }

    // The log's lines without their time stamps.
    std::vector<std::string> logLines() const {
        std::istringstream text(readFile(logPath()));
        std::vector<std::string> lines;
        std::string line;
        while (std::getline(text, line)) {
            lines.push_back(line.size() > 10 ? line.substr(10) : line);
        }
        return lines;
    }

    size_t logCount(const std::string& line) const {
        const std::vector<std::string> lines = logLines();
        return static_cast<size_t>(std::count(lines.begin(), lines.end(), line));
    }

    std::string localCopyPath() const {
        return environment.downloadsDir() + "/dozoPublishConf.json";
    }
    std::string localCopy() const { return readFile(localCopyPath()); }

    kv::portal::ProductPtr addProduct(kv::portal::ProductCode code, const std::string& name,
                                      const char* version, uint32_t generation = 1) {
        kv::portal::Version installed;
        installed.parseVersion(version);
        installed.generation = generation;
        core->addProduct(code, name, "", installed);
        return core->findProduct(name);
    }

    std::string logPath() const { return environment.home() + "/log.txt"; }

    CoreTestEnvironment environment;
    TempDir releases;
    ReleaseServer server{releases.path()};
    SyncListener listener;
    FixedSettings* settings = nullptr;
    std::unique_ptr<kv::portal::Core> core;
};

} // namespace kv::test
