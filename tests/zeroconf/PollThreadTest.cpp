#include "client.h"
#include "recording_listeners.h"
#include "scripted_fixture.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <memory>
#include <string>
#include <vector>

using zeroconf_test::recording_browser_listener;
using zeroconf_test::ScriptedTest;

namespace {

class PollThread : public ScriptedTest {
protected:
    std::shared_ptr<zeroconf::browser> browse(std::shared_ptr<recording_browser_listener> told) {
        return client->browse("", "_http._tcp", "", std::move(told), false);
    }

    // An instance named "Studio A" goes away, as the browse reports it.
    static void removal(const scripted::operation_ptr& browse) {
        scripted::browse_reply(browse, 0, 3, 0, "Studio A", "_http._tcp.", "local.");
    }

    std::shared_ptr<recording_browser_listener> listener =
        std::make_shared<recording_browser_listener>();
    std::shared_ptr<zeroconf::client> client = zeroconf::create_client(3);
    std::vector<std::shared_ptr<zeroconf::browser>> browsers;
};

TEST_F(PollThread, OperationsBeyond512AreRefusedWhileTheOthersAreServed) {
    for (int i = 0; i < 600; ++i) {
        browsers.push_back(browse(listener));
    }
    EXPECT_EQ(512, std::count_if(browsers.begin(), browsers.end(), [](auto& b) { return b; }));
    EXPECT_EQ(nullptr, browsers[512]);
    EXPECT_TRUE(logged("fdset too small\n"));
    EXPECT_TRUE(logged("[3]   _http._tcp; runtime error fdset too small.\n"));

    removal(scripted::wait_for("DNSServiceBrowse", 512));
    ASSERT_TRUE(listener->wait_removed(1));

    browsers.resize(100);
    EXPECT_NE(nullptr, browse(listener));
}

TEST_F(PollThread, OperationWhoseSocketSelectCannotWatchIsNotPolled) {
    scripted::set_next_socket(FD_SETSIZE + 100);
    EXPECT_EQ(nullptr, browse(listener));
    EXPECT_TRUE(logged("fdset too small\n"));

    browsers.push_back(browse(listener));
    browsers.push_back(browse(listener));
    const auto moved = scripted::wait_for("DNSServiceBrowse", 2);
    const auto served = scripted::wait_for("DNSServiceBrowse", 3);
    scripted::set_socket(moved, FD_SETSIZE + 100);
    removal(served);
    ASSERT_TRUE(listener->wait_removed(1));
    ASSERT_TRUE(scripted::wait_socket_queries(4));
    EXPECT_TRUE(logged("fdset too small\n"));
}

TEST_F(PollThread, OperationWithoutSocketIsLoggedAndSkipped) {
    browsers.push_back(browse(listener));
    const auto browse = scripted::wait_for("DNSServiceBrowse");
    scripted::set_socket(browse, -1);
    ASSERT_TRUE(scripted::wait_socket_queries(2));
    EXPECT_TRUE(logged("Invalid file descriptor or sd_ref_; fd = -1; sd_ref_ = 0x"));
}

TEST_F(PollThread, SelectErrorIsLoggedAndPollingGoesOn) {
    constexpr int kClosed = 900;
    ASSERT_EQ(-1, ::fcntl(kClosed, F_GETFD));
    browsers.push_back(browse(listener));
    const auto browse = scripted::wait_for("DNSServiceBrowse");
    scripted::set_socket(browse, kClosed);
    ASSERT_TRUE(scripted::wait_socket_queries(2));
    EXPECT_TRUE(logged("select() returned -1 errno 9 Bad file descriptor\n"));

    scripted::set_socket(browse, scripted::provider_socket(browse));
    removal(browse);
    EXPECT_TRUE(listener->wait_removed(1));
}

TEST_F(PollThread, DroppingTheLastBrowserInsideItsCallbackEndsItWithoutDeadlock) {
    auto dropped = browse(listener);
    const auto browse_op = scripted::wait_for("DNSServiceBrowse");
    listener->on_event = [&dropped] { dropped.reset(); };
    removal(browse_op);
    ASSERT_TRUE(scripted::wait_released(browse_op));

    auto other = std::make_shared<recording_browser_listener>();
    browsers.push_back(browse(other));
    removal(scripted::wait_for("DNSServiceBrowse", 2));
    EXPECT_TRUE(other->wait_removed(1));
    EXPECT_EQ(1u, listener->removed().size());
}

// Gone with the last browser that holds it, after that browser's client.
class farewell_listener : public recording_browser_listener {
public:
    ~farewell_listener() override { gone.set_value(); }
    std::promise<void> gone;
};

TEST_F(PollThread, ClientWhoseLastOperationEndsInACallbackIsDestroyedThereWithoutJoining) {
    auto told = std::make_shared<farewell_listener>();
    std::future<void> gone = told->gone.get_future();
    auto last = browse(told);
    client.reset();
    const auto browse_op = scripted::wait_for("DNSServiceBrowse");
    told->on_event = [&last] { last.reset(); };
    told.reset();
    removal(browse_op);
    ASSERT_EQ(std::future_status::ready, gone.wait_for(zeroconf_test::kDeadline));
    EXPECT_TRUE(scripted::released(browse_op));
    EXPECT_TRUE(logged("destroyed from poll_thread_\n"));
}

TEST_F(PollThread, OperationDestroyedByAnEarlierReplyOfTheSameCycleIsSkipped) {
    auto second_listener = std::make_shared<recording_browser_listener>();
    browsers.push_back(browse(listener));
    auto second = browse(second_listener);
    const auto first_op = scripted::wait_for("DNSServiceBrowse", 1);
    const auto second_op = scripted::wait_for("DNSServiceBrowse", 2);
    listener->on_event = [&second] { second.reset(); };

    scripted::hold_poll();
    ASSERT_TRUE(scripted::wait_poll_held());
    removal(first_op);
    removal(second_op);
    scripted::release_poll();

    ASSERT_TRUE(listener->wait_removed(1));
    ASSERT_TRUE(scripted::wait_released(second_op));
    // The next cycle begins after the last of this one's replies.
    ASSERT_TRUE(scripted::wait_socket_queries(2));
    EXPECT_TRUE(logged("dns_service has been destroyed\n"));
    EXPECT_TRUE(second_listener->removed().empty());
}

} // namespace
