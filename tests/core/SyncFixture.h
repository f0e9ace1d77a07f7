#pragma once

#include "CoreTestEnvironment.h"
#include "FixedSettings.h"
#include "RecordingListener.h"
#include "ReleaseServer.h"
#include "TempDir.h"
#include "core/Core.h"
#include "kvcurl/kvcurl.h"
#include "ru_rod.h"

#include <gtest/gtest.h>

#include <algorithm>
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

    std::vector<std::string> messages() const {
        std::vector<std::string> messages;
        for (const std::string& event : startingWith("syncFinished ")) {
            messages.push_back(event.substr(13));
        }
        return messages;
    }

    // The message of the count-th sync to finish, once it has.
    std::string waitForFinished(size_t count) {
        EXPECT_TRUE(waitUntil(
            [&](const Events& seen) {
                return std::count_if(seen.begin(), seen.end(), [](const std::string& e) {
                           return e.rfind("syncFinished ", 0) == 0;
                       }) >= static_cast<long>(count);
            },
            Seconds(60)));
        const std::vector<std::string> all = messages();
        return all.size() >= count ? all[count - 1] : "(no sync)";
    }
};

// A core whose "publish_file" setting points at a release server of the test's own.
class SyncTest : public ::testing::Test {
protected:
    SyncTest() {
        ru_rod::openLogFile(logPath().c_str(), true);
        auto proxy = std::make_unique<FixedSettings>();
        settings = proxy.get();
        core->setProxy(std::move(proxy));
        core->setIpcEnabled(true);
        core->addListener(&listener);
        settings->set("publish_file", publishUrl());
    }
    ~SyncTest() override { stopCore(); }

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

    // Syncs afresh against the server's answer at `url`.
    std::string syncWith(const std::string& url) {
        settings->set("publish_file", url);
        core->setForceRefresh();
        return sync();
    }

    // Ends the core, waiting for its sync thread, so that every line is in the log.
    void stopCore() {
        if (core) {
            core->removeListener(&listener);
            core.reset();
        }
    }

    // The log's lines without their time stamps.
    std::vector<std::string> logLines() const {
        std::istringstream text(readFile(logPath()));
        std::vector<std::string> lines;
        for (std::string line; std::getline(text, line);) {
            lines.push_back(line.size() > 10 ? line.substr(10) : line);
        }
        return lines;
    }
    size_t logCount(const std::string& line) const {
        const std::vector<std::string> lines = logLines();
        return static_cast<size_t>(std::count(lines.begin(), lines.end(), line));
    }
    // Whether the log holds these lines in this order, other lines between them allowed.
    bool logInOrder(const std::vector<std::string>& expected) const {
        const std::vector<std::string> lines = logLines();
        auto next = lines.begin();
        for (const std::string& line : expected) {
            next = std::find(next, lines.end(), line);
            if (next == lines.end()) {
                return false;
            }
            ++next;
        }
        return true;
    }

    // How often the server was asked for `path`.
    std::string requestCount(const std::string& path = "/dozoPublishConf.json") const {
        return kvcurl::get(server.url("/control/count?path=" + path))->body;
    }

    std::string localCopyPath() const {
        return environment.downloadsDir() + "/dozoPublishConf.json";
    }
    std::string localCopy() const { return readFile(localCopyPath()); }
    std::string statusFile() const {
        return readFile(environment.downloadsDir() + "/kvportal.ipc");
    }

    kv::portal::ProductPtr addProduct(kv::portal::ProductCode code, const std::string& name,
                                      const char* version, uint32_t generation = 1) {
        kv::portal::Version installed;
        installed.parseVersion(version);
        installed.generation = generation;
        core->addProduct(code, name, "", installed);
        return core->findProduct(name);
    }

    static std::string releaseOf(const kv::portal::ProductPtr& product) {
        const kv::portal::Product::CloudPtr cloud = product->cloud.get();
        return cloud ? versionText(cloud->version) + " " + cloud->fileName : "none";
    }

    // A URL where nothing listens any more.
    static std::string unreachableUrl() {
        TempDir root;
        return ReleaseServer(root.path()).url("/dozoPublishConf.json");
    }

    std::string logPath() const { return environment.home() + "/log.txt"; }

    CoreTestEnvironment environment;
    TempDir releases;
    ReleaseServer server{releases.path()};
    SyncListener listener;
    FixedSettings* settings = nullptr;
    std::unique_ptr<kv::portal::Core> core = std::make_unique<kv::portal::Core>();
};

} // namespace kv::test
