#include "client.h"
#include "recording_listeners.h"
#include "scripted_fixture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

using zeroconf_test::recording_browser_listener;
using zeroconf_test::ScriptedTest;

namespace {

constexpr std::int64_t kSecond = 1'000'000'000;

class ResolveTimeOut : public ScriptedTest {
protected:
    scripted::operation_ptr appear() {
        browser = client->browse("", "_http._tcp", "_ravenna", listener, false);
        const auto browse = scripted::wait_for("DNSServiceBrowse");
        scripted::browse_reply(browse, kDNSServiceFlagsAdd, 3, 0, "Studio A", "_http._tcp.",
                               "local.");
        // The resolve reads the clock once its reply has been handled.
        EXPECT_TRUE(scripted::wait_processed(browse));
        return scripted::wait_for("DNSServiceResolve");
    }

    void advance(std::int64_t seconds) { *now += seconds * kSecond; }

    // Lets the poll thread look at the clock at least once more.
    static void let_poll_cycle() { ASSERT_TRUE(scripted::wait_socket_queries(4)); }

    std::string time_out_line(const scripted::operation_ptr& op) const {
        return "Bonjour has left a query incomplete. We need to clean up the leftover socket: " +
               std::to_string(scripted::provider_socket(op)) + "\n";
    }

    std::shared_ptr<std::atomic<std::int64_t>> now =
        std::make_shared<std::atomic<std::int64_t>>(1000 * kSecond);
    std::shared_ptr<recording_browser_listener> listener =
        std::make_shared<recording_browser_listener>();
    std::shared_ptr<zeroconf::client> client =
        zeroconf::create_client(3, [clock = now] { return clock->load(); });
    std::shared_ptr<zeroconf::browser> browser;
};

TEST_F(ResolveTimeOut, UnansweredResolveEndsAfter300Seconds) {
    const auto resolve = appear();
    advance(299);
    let_poll_cycle();
    EXPECT_FALSE(scripted::released(resolve));

    advance(1);
    ASSERT_TRUE(scripted::wait_released(resolve));
    EXPECT_TRUE(logged(time_out_line(resolve)));
    EXPECT_TRUE(listener->resolved().empty());
}

TEST_F(ResolveTimeOut, AddressQueryGetsItsOwn300Seconds) {
    const auto resolve = appear();
    advance(200);
    scripted::resolve_reply(resolve, 0, 3, 0, "Studio\\032A._http._tcp.local.", "korvex-1.local.",
                            80, "");
    const auto query = scripted::wait_for("DNSServiceQueryRecord");
    ASSERT_TRUE(scripted::wait_processed(resolve));
    advance(299);
    let_poll_cycle();
    EXPECT_FALSE(scripted::released(query));

    advance(1);
    ASSERT_TRUE(scripted::wait_released(query));
    EXPECT_TRUE(logged(time_out_line(query)));
}

TEST_F(ResolveTimeOut, QueryAnsweredOnlyWithIPv6EndsByTimeOut) {
    const auto resolve = appear();
    scripted::resolve_reply(resolve, 0, 3, 0, "Studio\\032A._http._tcp.local.", "korvex-1.local.",
                            80, "");
    const auto query = scripted::wait_for("DNSServiceQueryRecord");
    scripted::query_reply(query, kDNSServiceFlagsAdd, 3, 0, "korvex-1.local", 28,
                          std::string(16, '\x01'));
    ASSERT_TRUE(scripted::wait_processed(query));
    advance(300);
    ASSERT_TRUE(scripted::wait_released(query));
    EXPECT_TRUE(logged(time_out_line(query)));
    EXPECT_TRUE(listener->resolved().empty());
}

} // namespace
