#include "client.h"
#include "recording_listeners.h"
#include "scripted_fixture.h"

#include <gtest/gtest.h>

#include <iterator>
#include <memory>
#include <string>
#include <vector>

using zeroconf_test::recording_browser_listener;
using zeroconf_test::ScriptedTest;

namespace {

constexpr DNSServiceErrorType kUnknown = -65537;
constexpr DNSServiceErrorType kServiceNotRunning = -65563;
const std::string kAddress("\x0a\x4d\x00\x0b", 4);
const std::string kTxt("\x1bvendor=Kelmora Technologies\x0eproduct=KORVEX", 43);

class Browse : public ScriptedTest {
protected:
    // Starts a browse for "_http._tcp" with the subtype "_ravenna" and returns its operation.
    scripted::operation_ptr start_browse(const std::string& name_filter = "",
                                         bool reconfirm = false) {
        browser = client->browse(name_filter, "_http._tcp", "_ravenna", listener, reconfirm);
        EXPECT_NE(nullptr, browser);
        return scripted::wait_for("DNSServiceBrowse");
    }

    // An instance appears; returns the resolve the browser started for it.
    scripted::operation_ptr appear(const scripted::operation_ptr& browse, const char* name,
                                   std::size_t nth = 1) {
        scripted::browse_reply(browse, kDNSServiceFlagsAdd, 3, 0, name, "_http._tcp.", "local.");
        return scripted::wait_for("DNSServiceResolve", nth);
    }

    scripted::operation_ptr resolve_studio_a(const scripted::operation_ptr& resolve,
                                             std::size_t nth = 1) {
        scripted::resolve_reply(resolve, 0, 3, 0, "Studio\\.A._http._tcp.local.", "korvex-1.local.",
                                8080, kTxt);
        return scripted::wait_for("DNSServiceQueryRecord", nth);
    }

    std::shared_ptr<recording_browser_listener> listener =
        std::make_shared<recording_browser_listener>();
    std::shared_ptr<zeroconf::client> client = zeroconf::create_client(3);
    std::shared_ptr<zeroconf::browser> browser;
};

TEST_F(Browse, BrowsesTheTypeWithItsSubtypeOnTheClientsInterface) {
    const auto browse = start_browse();
    EXPECT_EQ(0x40000u, browse->flags);
    EXPECT_EQ(3u, browse->interface_index);
    EXPECT_EQ("_http._tcp,_ravenna", browse->regtype.value_or("<null>"));
    EXPECT_FALSE(browse->domain.has_value());
}

TEST_F(Browse, BrowseInADomainUsesAllInterfaces) {
    auto in_domain = client->browse_domain("", "_http._tcp", "local.", "", listener, false);
    ASSERT_NE(nullptr, in_domain);
    const auto browse = scripted::wait_for("DNSServiceBrowse");
    EXPECT_EQ(0u, browse->interface_index);
    EXPECT_EQ("_http._tcp", browse->regtype.value_or("<null>"));
    EXPECT_EQ("local.", browse->domain.value_or("<null>"));
}

TEST_F(Browse, AppearingInstanceIsResolvedAndItsAddressQueried) {
    const auto resolve = appear(start_browse(), "Studio.A");
    EXPECT_EQ(kDNSServiceFlagsAdd, resolve->flags);
    EXPECT_EQ(3u, resolve->interface_index);
    EXPECT_EQ("Studio.A", resolve->name.value_or("<null>"));
    EXPECT_EQ("_http._tcp.", resolve->regtype.value_or("<null>"));
    EXPECT_EQ("local.", resolve->domain.value_or("<null>"));

    const auto query = resolve_studio_a(resolve);
    EXPECT_TRUE(scripted::released(resolve));
    EXPECT_EQ(0u, query->flags);
    EXPECT_EQ(3u, query->interface_index);
    EXPECT_EQ("korvex-1.local.", query->name.value_or("<null>"));
    EXPECT_EQ(kDNSServiceType_A, query->rrtype);
    EXPECT_EQ(kDNSServiceClass_IN, query->rrclass);

    scripted::query_reply(query, kDNSServiceFlagsAdd, 3, 0, "korvex-1.local", 1, kAddress);
    ASSERT_TRUE(listener->wait_resolved(1));
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
}

// The address query ends with its first answer: a second one in the same batch must not reach
// the listener.
TEST_F(Browse, SecondAnswerInTheSameBatchAsTheFirstIsNotDelivered) {
    const auto query = resolve_studio_a(appear(start_browse(), "Studio.A"));
    scripted::hold_poll();
    ASSERT_TRUE(scripted::wait_poll_held());
    scripted::batch_next(query, 2);
    scripted::query_reply(query, kDNSServiceFlagsAdd, 3, 0, "korvex-1.local", 1, kAddress);
    scripted::query_reply(query, kDNSServiceFlagsAdd, 3, 0, "korvex-1.local", 1, kAddress);
    scripted::release_poll();
    ASSERT_TRUE(scripted::wait_processed(query));
    EXPECT_EQ(1u, listener->resolved().size());
    EXPECT_TRUE(scripted::released(query));
}

TEST_F(Browse, DisappearingInstanceIsReportedRemoved) {
    const auto browse = start_browse();
    scripted::browse_reply(browse, 0, 3, 0, "Studio A", "_http._tcp.", "local.");
    ASSERT_TRUE(listener->wait_removed(1));
    const auto gone = listener->removed().front();
    EXPECT_EQ(3u, gone.interface_index);
    EXPECT_EQ("Studio A", gone.name);
    EXPECT_EQ("_http._tcp.", gone.regtype);
    EXPECT_EQ(0u, scripted::started("DNSServiceResolve"));
}

TEST_F(Browse, NameFilterIgnoresOtherNamesAndDeliversOnlyTheLatestAppearance) {
    const auto browse = start_browse("Studio.A");
    scripted::browse_reply(browse, kDNSServiceFlagsAdd, 3, 0, "Studio B", "_http._tcp.", "local.");
    const auto first = appear(browse, "Studio.A", 1);
    EXPECT_EQ("Studio.A", first->name.value_or("<null>"));
    const auto second = appear(browse, "Studio.A", 2);

    const auto first_query = resolve_studio_a(first, 1);
    scripted::query_reply(first_query, kDNSServiceFlagsAdd, 3, 0, "korvex-1.local", 1, kAddress);
    ASSERT_TRUE(scripted::wait_released(first_query));
    EXPECT_TRUE(listener->resolved().empty());

    const auto second_query = resolve_studio_a(second, 2);
    scripted::query_reply(second_query, kDNSServiceFlagsAdd, 3, 0, "korvex-1.local", 1, kAddress);
    ASSERT_TRUE(listener->wait_resolved(1));
    ASSERT_TRUE(scripted::wait_released(second_query));
    EXPECT_EQ(1u, listener->resolved().size());
    EXPECT_EQ(2u, scripted::started("DNSServiceResolve"));
}

TEST_F(Browse, InvalidTxtRecordIsLoggedAndTheInstanceDeliveredWithoutEntries) {
    const auto resolve = appear(start_browse(), "Studio.A");
    scripted::resolve_reply(resolve, 0, 3, 0, "Studio\\.A._http._tcp.local.", "korvex-1.local.", 80,
                            std::string("\x09vendor=K", 9));
    const auto query = scripted::wait_for("DNSServiceQueryRecord");
    scripted::query_reply(query, kDNSServiceFlagsAdd, 3, 0, "korvex-1.local", 1, kAddress);
    ASSERT_TRUE(listener->wait_resolved(1));
    EXPECT_TRUE(listener->resolved().front().txt.empty());
    EXPECT_TRUE(logged("Invalid TXT Record\n"));
}

TEST_F(Browse, AnswerOfIPv6SizeIsLoggedAndTheQueryWaitsForIPv4) {
    const auto query = resolve_studio_a(appear(start_browse(), "Studio.A"));
    scripted::query_reply(query, kDNSServiceFlagsAdd, 3, 0, "korvex-1.local", 28,
                          std::string(16, '\x01'));
    ASSERT_TRUE(scripted::wait_processed(query));
    EXPECT_TRUE(logged("Bonjour DNSServiceQueryRecord IPV6 unmanaged qr_reply!\n"));
    EXPECT_TRUE(listener->resolved().empty());
    EXPECT_FALSE(scripted::released(query));

    scripted::query_reply(query, kDNSServiceFlagsAdd, 3, 0, "korvex-1.local", 1, kAddress);
    ASSERT_TRUE(listener->wait_resolved(1));
    EXPECT_EQ("10.77.0.11", listener->resolved().front().address);
}

TEST_F(Browse, ReconfirmAsksTheDaemonToVerifyEachAnswer) {
    const auto query = resolve_studio_a(appear(start_browse("", true), "Studio.A"));
    scripted::query_reply(query, kDNSServiceFlagsAdd, 3, 0, "korvex-1.local", 1, kAddress);
    ASSERT_TRUE(listener->wait_resolved(1));
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

TEST_F(Browse, BrowseThatCannotStartIsLoggedAndEmpty) {
    scripted::fail_next("DNSServiceBrowse", kDNSServiceErr_BadParam);
    EXPECT_EQ(nullptr, client->browse("", "_http._tcp", "_ravenna", listener, false));
    EXPECT_TRUE(logged("[3]   _http._tcp; runtime error DNSServiceBrowse() failed (-65540).\n"));
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
        scripted::browse_reply(browse, 0, 3, 0, "Studio A", "_http._tcp.", "local.");
        ASSERT_TRUE(listener->wait_removed(before + 1)) << away;
    }
}

// The provider ends a browse with an error when its daemon goes away: the browse is started
// again, and the outage is logged once, however often it fails meanwhile.
TEST_F(Browse, BrowseEndedByAnErrorIsStartedAgainAndTheOutageLoggedOnce) {
    const auto browse = start_browse();
    scripted::browse_reply(browse, 0, 0, kUnknown, nullptr, nullptr, nullptr);
    const auto second = scripted::wait_for("DNSServiceBrowse", 2);
    ASSERT_NE(nullptr, second);
    EXPECT_TRUE(scripted::released(browse));
    EXPECT_EQ(browse->regtype, second->regtype);
    EXPECT_EQ(browse->interface_index, second->interface_index);
    scripted::browse_reply(second, 0, 0, kServiceNotRunning, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, scripted::wait_for("DNSServiceBrowse", 3));

    const std::string line = "zeroconf_category: DNS-SD browsing stopped (-65537); it starts "
                             "again once the DNS-SD service answers\n";
    const std::string text = log();
    EXPECT_NE(std::string::npos, text.find(line)) << text;
    EXPECT_EQ(text.rfind("browsing stopped"), text.find("browsing stopped")) << text;
    EXPECT_EQ(0u, scripted::started("DNSServiceResolve"));
    EXPECT_TRUE(listener->removed().empty());
}

TEST_F(Browse, ResolveThatCannotStartIsLogged) {
    scripted::fail_next("DNSServiceResolve", -65539);
    const auto browse = start_browse();
    scripted::browse_reply(browse, kDNSServiceFlagsAdd, 3, 0, "Studio.A", "_http._tcp.", "local.");
    ASSERT_TRUE(scripted::wait_processed(browse));
    EXPECT_TRUE(logged("DNSServiceResolve() failed (-65539)\n"));
}

// A resolve that cannot go on to its address query ends, and says why. Avahi reports a failed
// resolve with no full name and no host target.
TEST_F(Browse, ResolveThatCannotGoOnToItsAddressQueryEndsAndSaysWhy) {
    const char* const kFullName = "Studio\\.A._http._tcp.local.";
    struct Case {
        DNSServiceErrorType queryFails;
        DNSServiceErrorType error;
        const char* fullName;
        std::vector<std::string> logged;
    } const cases[] = {
        {0, kUnknown, nullptr, {"zeroconf_category: errorCode = -65537\n"}},
        {0,
         0,
         "Studio\\.A",
         {"zeroconf_category: resolve_reply: runtime error illegal service name\n"}},
        {-65539,
         0,
         kFullName,
         {"zeroconf_category: DNSServiceQueryRecord failed (-65539)\n",
          "zeroconf_category: DNSServiceQueryRecord failed (-65539)\n"}},
        // Port 8080 in network order reads 36895 on this machine.
        {kDNSServiceErr_BadParam,
         0,
         kFullName,
         {"zeroconf_category: DNSServiceQueryRecord failed (-65540)\n",
          "DNSServiceQueryRecord failed (-65540 = wrong parameters)\nresolve_reply(n/a, 3, "
          "Studio\\.A._http._tcp.local., korvex-1.local., 36895, 0, ",
          ", 0, 3, korvex-1.local., 1, 1, 0x"}},
    };
    const auto browse = start_browse();
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        if (c.queryFails != 0) {
            scripted::fail_next("DNSServiceQueryRecord", c.queryFails);
        }
        const std::size_t before = log().size();
        const auto resolve = appear(browse, "Studio.A", i + 1);
        scripted::resolve_reply(resolve, 0, 3, c.error, c.fullName,
                                c.fullName ? "korvex-1.local." : nullptr, 8080, "");
        ASSERT_TRUE(scripted::wait_processed(resolve));
        EXPECT_TRUE(scripted::wait_released(resolve));
        const std::string text = log().substr(before);
        std::size_t from = 0;
        for (const std::string& line : c.logged) {
            from = text.find(line, from);
            ASSERT_NE(std::string::npos, from) << line << text;
            from += line.size();
        }
    }
    EXPECT_EQ(0u, scripted::started("DNSServiceQueryRecord"));
    EXPECT_TRUE(listener->resolved().empty());
}

TEST_F(Browse, QueryReplyErrorEndsTheQuery) {
    const auto query = resolve_studio_a(appear(start_browse(), "Studio.A"));
    scripted::query_reply(query, 0, 3, kUnknown, nullptr, 1, "");
    ASSERT_TRUE(scripted::wait_processed(query));
    EXPECT_TRUE(scripted::wait_released(query));
    EXPECT_TRUE(logged("errorCode = -65537\n"));
    EXPECT_TRUE(listener->resolved().empty());
}

TEST_F(Browse, ProcessResultErrorsAreLoggedExceptBadParam) {
    const auto browse = start_browse();
    scripted::process_error(browse, kDNSServiceErr_BadParam);
    scripted::process_error(browse, kUnknown);
    // The poll thread logs after DNSServiceProcessResult returns: the next reply comes after it.
    scripted::browse_reply(browse, 0, 3, 0, "Studio A", "_http._tcp.", "local.");
    ASSERT_TRUE(listener->wait_removed(1));
    EXPECT_TRUE(logged("DNSServiceProcessResult returned -65537\n"));
    EXPECT_FALSE(logged("DNSServiceProcessResult returned -65540\n"));
}

} // namespace
