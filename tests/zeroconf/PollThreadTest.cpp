#include "scripted_fixture.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <memory>
#include <string>
#include <vector>

using namespace zeroconf_test;

namespace {

class PollThread : public ScriptedTest {
protected:
    std::shared_ptr<zeroconf::browser> browse(std::shared_ptr<recording_listener> told) {
        return client->browse("", "_http._tcp", "", std::move(told), false);
    }

    std::vector<std::shared_ptr<zeroconf::browser>> browsers;
};

TEST_F(PollThread, OperationsBeyond512AreRefusedWhileTheOthersAreServed) {
    for (int i = 0; i < 600; ++i) {
        browsers.push_back(browse(listener));
    }
    EXPECT_EQ(512, std::count_if(browsers.begin(), browsers.end(), [](auto& b) { return b; }));
    EXPECT_EQ(nullptr, browsers[512]);
    EXPECT_TRUE(logged("[3]   _http._tcp; runtime error fdset too small.\n"));

    browsed(scripted::wait_for("DNSServiceBrowse", 512), 0, "Studio A");
    ASSERT_TRUE(listener->wait_removed(1));
    browsers.resize(100);
    EXPECT_NE(nullptr, browse(listener));
}

// A socket select cannot watch, one that is missing, or not open, is logged and polling goes on.
TEST_F(PollThread, SocketsSelectCannotWatchAreLoggedAndPollingGoesOn) {
    browsers = {browse(listener), browse(listener)};
    const auto moved = scripted::wait_for("DNSServiceBrowse", 1);
    const auto served = scripted::wait_for("DNSServiceBrowse", 2);
    constexpr int kClosed = 900;
    ASSERT_EQ(-1, ::fcntl(kClosed, F_GETFD));
    const struct {
        int fd;
        std::string logged;
    } cases[] = {{FD_SETSIZE + 100, "fdset too small\n"},
                 {-1, "Invalid file descriptor or sd_ref_; fd = -1; sd_ref_ = 0x"},
                 {kClosed, "select() returned -1 errno 9 Bad file descriptor\n"}};
    int removed = 0;
    for (const auto& c : cases) {
        const std::size_t before = log().size();
        scripted::set_socket(moved, c.fd);
        ASSERT_TRUE(scripted::wait_socket_queries(4));
        EXPECT_NE(std::string::npos, log().find(c.logged, before)) << c.fd;
        // A socket select refuses stops every wait until it is gone.
        if (c.fd == kClosed) {
            scripted::set_socket(moved, scripted::provider_socket(moved));
        }
        browsed(served, 0, "Studio A");
        EXPECT_TRUE(listener->wait_removed(++removed)) << c.fd;
    }
    browsed(moved, 0, "Studio B");
    EXPECT_TRUE(listener->wait_removed(++removed));
}

TEST_F(PollThread, DroppingTheLastBrowserInsideItsCallbackEndsItWithoutDeadlock) {
    auto dropped = browse(listener);
    const auto browse_op = scripted::wait_for("DNSServiceBrowse");
    listener->on_event = [&dropped] { dropped.reset(); };
    browsed(browse_op, 0, "Studio A");
    ASSERT_TRUE(scripted::wait_released(browse_op));

    auto other = std::make_shared<recording_listener>();
    browsers.push_back(browse(other));
    browsed(scripted::wait_for("DNSServiceBrowse", 2), 0, "Studio A");
    EXPECT_TRUE(other->wait_removed(1));
    EXPECT_EQ(1u, listener->removed().size());
}

// Gone with the last browser that holds it, after that browser's client.
class farewell_listener : public recording_listener {
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
    browsed(browse_op, 0, "Studio A");
    ASSERT_EQ(std::future_status::ready, gone.wait_for(kDeadline));
    EXPECT_TRUE(scripted::released(browse_op));
    EXPECT_TRUE(logged("destroyed from poll_thread_\n"));
}

TEST_F(PollThread, OperationDestroyedByAnEarlierReplyOfTheSameCycleIsSkipped) {
    auto second_listener = std::make_shared<recording_listener>();
    browsers.push_back(browse(listener));
    auto second = browse(second_listener);
    const auto first_op = scripted::wait_for("DNSServiceBrowse", 1);
    const auto second_op = scripted::wait_for("DNSServiceBrowse", 2);
    listener->on_event = [&second] { second.reset(); };

    scripted::hold_poll();
    ASSERT_TRUE(scripted::wait_poll_held());
    browsed(first_op, 0, "Studio A");
    browsed(second_op, 0, "Studio A");
    scripted::release_poll();

    ASSERT_TRUE(listener->wait_removed(1));
    ASSERT_TRUE(scripted::wait_released(second_op));
    // The next cycle begins after the last of this one's replies.
    ASSERT_TRUE(scripted::wait_socket_queries(2));
    EXPECT_TRUE(logged("dns_service has been destroyed\n"));
    EXPECT_TRUE(second_listener->removed().empty());
}

} // namespace
