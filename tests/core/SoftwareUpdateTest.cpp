#include "CoreLab.h"
#include "ReleaseServer.h"
#include "TempDir.h"
#include "core/Core.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

using namespace kv::portal;

namespace {

// Exit statuses of the test installers and the installer codes they stand for.
constexpr int kCancelled = 17;
constexpr int kNeedsRestart = 18;
constexpr int kRestarting = 19;
constexpr int kFailed = 20;

class SoftwareUpdate : public kv::test::CoreLab {
protected:
    SoftwareUpdate() {
        installers_.reportAs(kCancelled, 1602);
        installers_.reportAs(kNeedsRestart, 3010);
        installers_.reportAs(kRestarting, 1641);
        installers_.reportAs(kFailed, 1603);
        core_->setProxy(std::make_unique<kv::test::InstallerProxy>(installers_));
    }

    // An application whose released installer is downloaded; the installer runs `script`.
    ProductPtr addApplication(ProductCode code, const std::string& name,
                              const std::string& script) {
        EXPECT_TRUE(core_->addProduct(code, name, "", {}));
        const ProductPtr product = core_->findProduct(name);
        auto release = std::make_shared<Product::Cloud>();
        release->version = Version(3, 1, 0, 2690);
        release->fileName = name + "-setup.sh";
        release->link = server_.url("/" + release->fileName);
        product->cloud.set(release);
        if (!script.empty()) {
            kv::test::writeFile(core_->downloadPath(product, true), script + "\n");
        }
        return product;
    }

    kv::test::TempDir served_;
    kv::test::ReleaseServer server_{served_.path()};
};

TEST_F(SoftwareUpdate, InstallerThatSucceedsOrIsCancelledLeavesTheEvaluatedStatus) {
    const std::pair<std::string, int> installers[] = {
        {"exit 0", 0}, {"exit 17", 1602}, {"exit 18", 3010}};
    for (const auto& [script, code] : installers) {
        const std::string name = "App " + std::to_string(code);
        const ProductPtr app = addApplication(code::VORNET, name, script);

        core_->requestUpdate(app);
        ASSERT_TRUE(events_.waitFor(status(name, "Ready To Update"))) << script;
        EXPECT_EQ(events_.startingWith("status " + name + " "),
                  (std::vector<std::string>{status(name, "Pending Update"),
                                            status(name, "Software Updating"),
                                            status(name, "Ready To Update")}));
        EXPECT_EQ(app->errorCode, 0) << script;
    }
    EXPECT_EQ(installers_.started().size(), 3u);
}

// A failing installer shows its exit code; one that cannot start, or whose name would lead out
// of the package folder, shows -1, and the latter is never run.
TEST_F(SoftwareUpdate, InstallerThatFailsShowsItsExitCode) {
    kv::test::writeFile(environment_.downloadsDir() + "/outside.sh", "exit 0\n");
    struct Case {
        const char* name;
        const char* script;
        const char* fileName;
        int32_t errorCode;
        bool started;
    };
    const Case cases[] = {
        {"Failing", "exit 20", nullptr, 1603, true},
        {"Missing", "", nullptr, -1, true},
        {"Outside", "", "../outside.sh", -1, false},
    };
    for (const Case& c : cases) {
        const ProductPtr app = addApplication(code::KVDISCOVERY, c.name, c.script);
        if (c.fileName != nullptr) {
            auto release = std::make_shared<Product::Cloud>(*app->cloud.get());
            release->fileName = c.fileName;
            app->cloud.set(release);
        }
        const std::string installer =
            environment_.downloadsDir() + "/Software/" + c.name + "-setup.sh";

        core_->requestUpdate(app);
        ASSERT_TRUE(events_.waitFor(
            status(c.name, "Software Updater Error (" + std::to_string(c.errorCode) + ")")));
        EXPECT_EQ(app->errorCode, c.errorCode);
        const std::vector<std::string> started = installers_.started();
        EXPECT_EQ(std::count(started.begin(), started.end(), installer), c.started ? 1 : 0)
            << c.name;
    }
    EXPECT_EQ(installers_.started().size(), 2u);
}

// A newer package replaces this program; the catalogue's installer is for another system.
TEST_F(SoftwareUpdate, ThisProgramsOwnInstallerIsDownloadedButNeverRun) {
    kv::test::writeFile(served_.file("KVPortal-setup.sh"), "exit 0\n");
    const ProductPtr portal = addApplication(code::KVPORTAL, "KVPortal", "");
    EXPECT_FALSE(core_->canUpdate(portal));

    portal->updateAfterDownload = true;
    core_->requestDownload("KVPortal");
    ASSERT_TRUE(events_.waitFor(status("KVPortal", "Ready To Update")));
    core_->requestUpdate(portal);
    ASSERT_TRUE(core_->waitUntilIdle(std::chrono::minutes(1)));
    EXPECT_EQ(portal->status, ReadyToUpdate);
    EXPECT_TRUE(installers_.started().empty());
}

TEST_F(SoftwareUpdate, CancellingAQueuedUpdateTakesItOffTheQueue) {
    const std::string go = served_.file("go");
    ASSERT_EQ(::mkfifo(go.c_str(), 0600), 0);
    const ProductPtr holding = addApplication(code::VORNET, "Holding", "read line < '" + go + "'");
    const ProductPtr queued = addApplication(code::KVDISCOVERY, "Queued", "exit 0");

    core_->requestUpdate(holding);
    ASSERT_TRUE(events_.waitFor(status("Holding", "Software Updating")));
    core_->requestUpdate(queued);
    core_->cancel("Queued");
    EXPECT_EQ(queued->status, ReadyToUpdate);
    std::ofstream(go) << "go" << std::endl;
    ASSERT_TRUE(core_->waitUntilIdle(std::chrono::minutes(1)));

    EXPECT_EQ(installers_.started(),
              std::vector<std::string>{environment_.downloadsDir() + "/Software/Holding-setup.sh"});
    EXPECT_EQ(events_.count(status("Queued", "Software Updating")), 0);
    EXPECT_EQ(queued->status, ReadyToUpdate);
}

// The jobs dropped leave no pending status behind them.
TEST_F(SoftwareUpdate, InstallerRestartingTheComputerEmptiesBothQueues) {
    kv::test::writeFile(served_.file("Running-setup.sh"), "exit 0\n");
    kv::test::writeFile(served_.file("Waiting-setup.sh"), "exit 0\n");
    // The installer holds until the test has queued more work behind it.
    const std::string go = served_.file("go");
    ASSERT_EQ(::mkfifo(go.c_str(), 0600), 0);
    const ProductPtr restarting =
        addApplication(code::VORNET, "Restarting", "read line < '" + go + "'; exit 19");
    const ProductPtr queuedUpdate = addApplication(code::KVDISCOVERY, "Queued", "exit 0");
    const ProductPtr running = addApplication(code::KVPORTAL, "Running", "");
    const ProductPtr waiting = addApplication(code::KORVEX_REMOTE_CONTROLLER, "Waiting", "");
    auto gated = std::make_shared<Product::Cloud>(*running->cloud.get());
    gated->link += "?gate=g";
    running->cloud.set(gated);

    core_->requestDownload("Running");
    ASSERT_EQ(kvcurl::get(server_.url("/control/wait/g"))->code, 200);
    core_->requestDownload("Waiting");
    core_->requestUpdate(restarting);
    ASSERT_TRUE(events_.waitFor(status("Restarting", "Software Updating")));
    core_->requestUpdate(queuedUpdate);
    std::ofstream(go) << "go" << std::endl;
    // The running download stops once its queue is emptied; nothing else would end it.
    ASSERT_TRUE(events_.waitFor(status("Running", "Ready To Download")));
    core_.reset();

    EXPECT_EQ(installers_.started(), std::vector<std::string>{environment_.downloadsDir() +
                                                              "/Software/Restarting-setup.sh"});
    EXPECT_EQ(queuedUpdate->status, ReadyToUpdate);
    EXPECT_EQ(running->status, ReadyToDownload);
    EXPECT_EQ(running->errorCode, 0);
    EXPECT_EQ(waiting->status, ReadyToDownload);
    EXPECT_EQ(kvcurl::get(server_.url("/control/count?path=/Waiting-setup.sh"))->body, "0\n");
}

} // namespace
