#include "SyncFixture.h"
#include "kvcurl/kvcurl.h"

#include <chrono>
#include <future>

namespace {

using namespace kv::portal;

const char kPublishFile[] =
    R"({"products":[{"ID":"KORVEX-FIRMWARE","IV":"2.1.0b40","IF":"korvex.img","LK":"k"}]})";
const char kMatched[] = "Product(KORVEX-FIRMWARE Korvex Studio A 2.0.0 b10), Cloud(2.1.0 b40)";

// The release server holds the fetch at a gate until the test opens it.
class SyncRequests : public kv::test::SyncTest {
protected:
    SyncRequests() {
        publish(kPublishFile);
        settings->set("publish_file", publishUrl("?gate=fetch"));
        addProduct(code::KORVEX_FIRMWARE, "Korvex Studio A", "2.0.0b10");
    }

    void waitUntilFetchIsHeld() {
        ASSERT_EQ(kvcurl::get(server.url("/control/wait/fetch"))->code, 200);
    }

    void openGate() { ASSERT_EQ(kvcurl::get(server.url("/control/open/fetch"))->code, 200); }

    std::string fetches() {
        std::string count;
        kvcurl::fetch(server.url("/control/count?path=/dozoPublishConf.json"), count, {});
        return count;
    }
};

TEST_F(SyncRequests, RequestsDuringAFetchAreServedByOneMatchingPass) {
    core->startSync();
    waitUntilFetchIsHeld();
    core->startSync();
    core->startSync();
    core->startSync();
    openGate();

    EXPECT_EQ(listener.waitForFinished(1), "");
    stopCore();
    EXPECT_EQ(listener.messages().size(), 1u);
    EXPECT_EQ(listener.started(), 1);
    EXPECT_EQ(fetches(), "1\n");
    EXPECT_EQ(logCount("Sync: Using cache..."), 1u);
    EXPECT_EQ(logCount(kMatched), 1u);
    EXPECT_EQ(logCount("Sync finished"), 1u);
}

TEST_F(SyncRequests, RefreshDuringAFetchFetchesAgain) {
    core->startSync();
    waitUntilFetchIsHeld();
    core->setForceRefresh();
    core->startSync();
    openGate();

    EXPECT_EQ(listener.waitForFinished(1), "");
    stopCore();
    EXPECT_EQ(listener.messages().size(), 1u);
    EXPECT_EQ(listener.started(), 2);
    EXPECT_EQ(fetches(), "2\n");
    EXPECT_EQ(logCount("Success"), 2u);
    EXPECT_EQ(logCount("Sync: Using cache..."), 0u);
    EXPECT_EQ(logCount(kMatched), 1u);
}

TEST_F(SyncRequests, FailedPassesAreEachReportedAndTheLastRequestIsServed) {
    settings->set("publish_file", publishUrl("?gate=fetch&status=500"));
    core->startSync();
    waitUntilFetchIsHeld();
    core->startSync();
    settings->set("publish_file", publishUrl());
    openGate();

    EXPECT_EQ(listener.waitForFinished(2), "");
    stopCore();
    EXPECT_EQ(listener.messages(),
              (std::vector<std::string>{"Failed to contact Kelmora Technologies Server", ""}));
    EXPECT_EQ(logCount("Sync failed: No publish file found"), 1u);
    EXPECT_EQ(logCount(kMatched), 1u);
}

// Stops the sync in its matching pass, at the first status it reports, until released.
class MatchingHold : public Core::Listener {
public:
    void statusChanged(Core*, const char*) override {
        std::unique_lock<std::mutex> lock(mutex_);
        if (held_) {
            return;
        }
        held_ = true;
        changed_.notify_all();
        if (!changed_.wait_for(lock, std::chrono::seconds(60), [&] { return released_; })) {
            ADD_FAILURE() << "matching pass never released";
        }
    }

    bool waitUntilHeld() {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(60), [&] { return held_; });
    }

    void release() {
        std::lock_guard<std::mutex> lock(mutex_);
        released_ = true;
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool held_ = false;
    bool released_ = false;
};

// The caller does not wait for the matching (the interface thread asks for a sync whenever a
// device appears): the running sync starts over once it has matched, once for a whole burst,
// and logs again only what changed.
TEST_F(SyncRequests, BurstWhileMatchingReturnsAtOnceAndOneSecondPassFollows) {
    MatchingHold hold;
    core->addListener(&hold);
    openGate();
    core->startSync();
    ASSERT_TRUE(hold.waitUntilHeld());

    auto request = std::async(std::launch::async, [&] {
        for (int device = 0; device < 5; ++device) {
            core->startSync();
        }
    });
    const bool returned = request.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    hold.release();
    request.get();
    EXPECT_TRUE(returned) << "the request waited for the matching";

    EXPECT_EQ(listener.waitForFinished(2), "");
    core->removeListener(&hold);
    stopCore();
    EXPECT_EQ(listener.messages().size(), 2u);
    EXPECT_EQ(logCount("Sync: Using cache..."), 1u);
    EXPECT_EQ(logCount(kMatched), 1u);
}

} // namespace
