#include "scripted_fixture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

using namespace zeroconf_test;

namespace {

using Browse = ScriptedTest;

TEST_F(Browse, AppearingInstanceIsResolvedQueriedAndDeliveredAndItsDisappearanceReported) {
    const auto browse = start_browse();
    EXPECT_EQ(0x40000u, browse->flags);
    EXPECT_EQ(3u, browse->interface_index);
    EXPECT_EQ("_http._tcp,_ravenna", browse->regtype);
    EXPECT_FALSE(browse->domain);

    const auto resolve = appear(browse, "Studio.A");
    EXPECT_EQ(kDNSServiceFlagsAdd, resolve->flags);
    EXPECT_EQ(3u, resolve->interface_index);
    EXPECT_EQ("Studio.A", resolve->name);
    EXPECT_EQ("_http._tcp.", resolve->regtype);
    EXPECT_EQ("local.", resolve->domain);

    const auto query = query_of(resolve);
    EXPECT_TRUE(scripted::released(resolve));
    EXPECT_EQ(0u, query->flags);
    EXPECT_EQ(3u, query->interface_index);
    EXPECT_EQ("korvex-1.local.", query->name);
    EXPECT_EQ(kDNSServiceType_A, query->rrtype);
    EXPECT_EQ(kDNSServiceClass_IN, query->rrclass);

    // The query ends with its first answer: a second in the same batch must not be delivered.
    scripted::hold_poll();
    ASSERT_TRUE(scripted::wait_poll_held());
    scripted::batch_next(query, 2);
    queried(query, kDNSServiceFlagsAdd);
    queried(query, kDNSServiceFlagsAdd);
    scripted::release_poll();
    ASSERT_TRUE(scripted::wait_processed(query));
    ASSERT_EQ(1u, listener->resolved().size());
    const auto found = listener->resolved().front();
    EXPECT_EQ(3u, found.interface_index);
    EXPECT_EQ("Studio.A", found.name);
    EXPECT_EQ("_http._tcp.", found.regtype);
    EXPECT_EQ("korvex-1.local.", found.host);
    EXPECT_EQ("10.77.0.11", found.address);
    EXPECT_EQ(8080, found.port);
    EXPECT_EQ((std::vector<std::string>{"vendor=Kelmora Technologies", "product=KORVEX"}),
              found.txt);
    EXPECT_TRUE(scripted::wait_released(query));

    browsed(browse, 0, "Studio A");
    ASSERT_TRUE(listener->wait_removed(1));
    const auto gone = listener->removed().front();
    EXPECT_EQ(3u, gone.interface_index);
    EXPECT_EQ("Studio A", gone.name);
    EXPECT_EQ("_http._tcp.", gone.regtype);
    EXPECT_EQ(1u, scripted::started("DNSServiceResolve"));
}

TEST_F(Browse, NameFilterIgnoresOtherNamesAndDeliversOnlyTheLatestAppearance) {
    const auto browse = start_browse("Studio.A");
    browsed(browse, kDNSServiceFlagsAdd, "Studio B");
    const auto first = appear(browse, "Studio.A", 1);
    const auto second = appear(browse, "Studio.A", 2);
    const auto first_query = query_of(first, 1);
    queried(first_query, kDNSServiceFlagsAdd);
    ASSERT_TRUE(scripted::wait_released(first_query));
    EXPECT_TRUE(listener->resolved().empty());

    queried(query_of(second, 2), kDNSServiceFlagsAdd);
    ASSERT_TRUE(listener->wait_resolved(1));
    EXPECT_EQ(2u, scripted::started("DNSServiceResolve"));
}

// A bad TXT record is dropped, an IPv6-sized answer waited past; both are logged. With
// reconfirm, the daemon is asked to verify the answer.
TEST_F(Browse, BadTxtAndIPv6AnswerAreLoggedAndReconfirmAsksTheDaemon) {
    const auto resolve = appear(start_browse("", true), "Studio.A");
    resolved(resolve, "Studio\\.A._http._tcp.local.", std::string("\x09vendor=K", 9));
    const auto query = scripted::wait_for("DNSServiceQueryRecord");
    queried(query, kDNSServiceFlagsAdd, std::string(16, '\x01'));
    ASSERT_TRUE(scripted::wait_processed(query));
    EXPECT_TRUE(logged("Bonjour DNSServiceQueryRecord IPV6 unmanaged qr_reply!\n"));
    EXPECT_FALSE(scripted::released(query));

    queried(query, kDNSServiceFlagsAdd);
    ASSERT_TRUE(listener->wait_resolved(1));
    EXPECT_EQ("10.77.0.11", listener->resolved().front().address);
    EXPECT_TRUE(listener->resolved().front().txt.empty());
    EXPECT_TRUE(logged("Invalid TXT Record\n"));
    EXPECT_TRUE(logged("korvex-1.local seems out dated -> force daemon to verify the validity of "
                       "this record\n"));
    const auto calls = scripted::reconfirm_calls();
    ASSERT_EQ(1u, calls.size());
    EXPECT_EQ(0x800u, calls[0].flags);
    EXPECT_EQ(3u, calls[0].interface_index);
    EXPECT_EQ("korvex-1.local", calls[0].fullname);
    EXPECT_EQ(1, calls[0].rrtype);
    EXPECT_EQ(1, calls[0].rrclass);
    EXPECT_EQ(kAddress, calls[0].rdata);
}

TEST_F(Browse, OperationsThatCannotStartAreLogged) {
    const std::pair<const char*, std::string> cases[] = {
        {"DNSServiceBrowse", "[3]   _http._tcp; runtime error DNSServiceBrowse() failed (-65540)"},
        {"DNSServiceGetAddrInfo", "[3] korvex-1.local  ; runtime error DNSServiceGetAddrInfo() "
                                  "failed (-65540)"},
        {"DNSServiceRegister", "[3] Studio A  _http._tcp; runtime error Could not register "
                               "service \"Studio A\" (-65540)"},
        {"DNSServiceResolve", "DNSServiceResolve() failed (-65540)"}};
    const auto browse = start_browse();
    for (const auto& [function, line] : cases) {
        scripted::fail_next(function, kDNSServiceErr_BadParam);
    }
    EXPECT_EQ(nullptr, client->browse("", "_http._tcp", "_ravenna", listener, false));
    EXPECT_EQ(nullptr, client->browse_hostname("korvex-1.local", nullptr));
    EXPECT_EQ(nullptr, client->register_service("Studio A", "_http._tcp", 80, {}, {}, {}));
    browsed(browse, kDNSServiceFlagsAdd, "Studio.A");
    ASSERT_TRUE(scripted::wait_processed(browse));
    for (const auto& [function, line] : cases) {
        EXPECT_TRUE(logged(line)) << function;
    }
}

// Made while the provider's daemon is away (a refresh during its restart): it browses once the
// daemon is back.
TEST_F(Browse, BrowseMadeWhileTheDaemonIsAwayStartsOnceItIsBack) {
    for (const DNSServiceErrorType away : {kServiceNotRunning, kUnknown}) {
        scripted::fail_next("DNSServiceBrowse", away);
        const std::size_t before = scripted::started("DNSServiceBrowse");
        browser = client->browse("", "_http._tcp", "_ravenna", listener, false);
        ASSERT_NE(nullptr, browser) << away;
        const auto browse = scripted::wait_for("DNSServiceBrowse", before + 1);
        ASSERT_NE(nullptr, browse) << away;
        browsed(browse, 0, "Studio A");
        ASSERT_TRUE(listener->wait_removed(before + 1)) << away;
    }
}

// A resolve that cannot go on to its address query, or a query answered with an error, ends
// and says why. Avahi reports a failed resolve with no full name and no host target.
TEST_F(Browse, ResolveOrQueryThatCannotGoOnEndsAndSaysWhy) {
    const char* const kFullName = "Studio\\.A._http._tcp.local.";
    const struct {
        DNSServiceErrorType queryFails, error, queryError;
        const char* fullName;
        std::string logged;
    } cases[] = {
        {0, kUnknown, 0, nullptr, "errorCode = -65537\n"},
        {0, 0, 0, "Studio\\.A", "resolve_reply: runtime error illegal service name\n"},
        {-65539, 0, 0, kFullName, "DNSServiceQueryRecord failed (-65539)\n"},
        // Port 8080 in network order reads 36895 on this machine.
        {kDNSServiceErr_BadParam, 0, 0, kFullName,
         "DNSServiceQueryRecord failed (-65540 = wrong parameters)\nresolve_reply(n/a, 3, "
         "Studio\\.A._http._tcp.local., korvex-1.local., 36895, 0, "},
        {0, 0, kUnknown, kFullName, "errorCode = -65537\n"},
    };
    const auto browse = start_browse();
    std::size_t queries = 0;
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        if (c.queryFails != 0) {
            scripted::fail_next("DNSServiceQueryRecord", c.queryFails);
        }
        const auto resolve = appear(browse, "Studio.A", i + 1);
        resolved(resolve, c.fullName, "", c.error);
        ASSERT_TRUE(scripted::wait_processed(resolve));
        EXPECT_TRUE(scripted::wait_released(resolve));
        if (c.queryError != 0) {
            const auto query = scripted::wait_for("DNSServiceQueryRecord", ++queries);
            queried(query, 0, "", c.queryError);
            EXPECT_TRUE(scripted::wait_released(query));
        }
        EXPECT_TRUE(logged(c.logged)) << i << log();
    }
    EXPECT_EQ(queries, scripted::started("DNSServiceQueryRecord"));
    EXPECT_TRUE(listener->resolved().empty());
}

TEST_F(Browse, ProcessResultErrorsAreLoggedExceptBadParam) {
    const auto browse = start_browse();
    scripted::post(browse, [](DNSServiceRef) { return kDNSServiceErr_BadParam; });
    scripted::post(browse, [](DNSServiceRef) { return kUnknown; });
    // The poll thread logs after DNSServiceProcessResult returns: the next reply comes after it.
    browsed(browse, 0, "Studio A");
    ASSERT_TRUE(listener->wait_removed(1));
    EXPECT_TRUE(logged("DNSServiceProcessResult returned -65537\n"));
    EXPECT_FALSE(logged("DNSServiceProcessResult returned -65540\n"));
}

// A resolve, and then its address query, each end 300 s after they started without an answer.
class ResolveTimeOut : public ScriptedTest {
protected:
    ResolveTimeOut() {
        client = zeroconf::create_client(3, [clock = now] { return clock->load(); });
    }
    void advance(std::int64_t seconds) { *now += seconds * 1'000'000'000; }

    std::shared_ptr<std::atomic<std::int64_t>> now = std::make_shared<std::atomic<std::int64_t>>(0);
};

TEST_F(ResolveTimeOut, ResolveAndItsAddressQueryEachEndAfter300Seconds) {
    const auto browse = start_browse();
    const auto first = appear(browse, "Studio A");
    // The resolve reads the clock once its reply has been handled.
    ASSERT_TRUE(scripted::wait_processed(browse));
    advance(200);
    const auto query = query_of(first);
    ASSERT_TRUE(scripted::wait_processed(first));
    // An IPv6 answer does not end the query.
    queried(query, kDNSServiceFlagsAdd, std::string(16, '\x01'));
    ASSERT_TRUE(scripted::wait_processed(query));
    const auto second = appear(browse, "Studio A", 2);
    ASSERT_TRUE(scripted::wait_processed(browse, 2));
    advance(299);
    ASSERT_TRUE(scripted::wait_socket_queries(4));
    EXPECT_FALSE(scripted::released(query));
    EXPECT_FALSE(scripted::released(second));

    advance(1);
    for (const auto& op : {query, second}) {
        ASSERT_TRUE(scripted::wait_released(op));
        EXPECT_TRUE(logged("Bonjour has left a query incomplete. We need to clean up the leftover "
                           "socket: " +
                           std::to_string(scripted::provider_socket(op)) + "\n"));
    }
    EXPECT_TRUE(listener->resolved().empty());
}

} // namespace
