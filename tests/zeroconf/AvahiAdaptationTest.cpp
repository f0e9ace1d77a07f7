// The scripted provider poses as Avahi's compatibility library here: it refuses flags other than
// 0, has no DNSServiceGetAddrInfo and reports any call Avahi would refuse as a misuse, which
// fails the test.
#include "client.h"
#include "recording_listeners.h"
#include "scripted_fixture.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

using zeroconf::service;
using zeroconf_test::recording_browser_listener;
using zeroconf_test::recording_hostname_listener;
using zeroconf_test::ScriptedTest;
using zeroconf_test::state_recorder;

namespace {

const std::string kAddress("\x0a\x4d\x00\x0b", 4);

class AvahiAdaptation : public ScriptedTest {
protected:
    state_recorder states;
    std::shared_ptr<zeroconf::client> client = zeroconf::create_client(-1);
    std::shared_ptr<zeroconf::browser> browser;
    std::shared_ptr<zeroconf::hostname_browser> hostname_browser;
    std::shared_ptr<service> registered;
};

TEST_F(AvahiAdaptation, BrowseResolveAndQueryGoWithFlagsZeroAndReconfirmStaysLocal) {
    auto listener = std::make_shared<recording_browser_listener>();
    browser = client->browse("", "_http._tcp", "_ravenna", listener, true);
    ASSERT_NE(nullptr, browser);
    const auto browse = scripted::wait_for("DNSServiceBrowse");
    EXPECT_EQ(0u, browse->flags);
    EXPECT_EQ("_http._tcp,_ravenna", browse->regtype.value_or("<null>"));

    scripted::browse_reply(browse, kDNSServiceFlagsAdd, 2, 0, "Studio.A", "_http._tcp.", "local.");
    const auto resolve = scripted::wait_for("DNSServiceResolve");
    EXPECT_EQ(0u, resolve->flags);
    scripted::resolve_reply(resolve, 0, 2, 0, "Studio\\.A._http._tcp.local.", "korvex-1.local.", 80,
                            std::string("\x0bversion=1.2", 12));
    const auto query = scripted::wait_for("DNSServiceQueryRecord");
    EXPECT_EQ(0u, query->flags);
    scripted::query_reply(query, kDNSServiceFlagsAdd, 2, 0, "korvex-1.local", 1, kAddress);

    ASSERT_TRUE(listener->wait_resolved(1));
    const auto found = listener->resolved().front();
    EXPECT_EQ("Studio.A", found.name);
    EXPECT_EQ("10.77.0.11", found.address);
    EXPECT_EQ(std::vector<std::string>{"version=1.2"}, found.txt);
    EXPECT_TRUE(logged("korvex-1.local seems out dated"));
}

TEST_F(AvahiAdaptation, HostNameIsFollowedThroughAnAddressRecordQuery) {
    auto listener = std::make_shared<recording_hostname_listener>();
    hostname_browser = client->browse_hostname("korvex-1.local", listener);
    ASSERT_NE(nullptr, hostname_browser);
    const auto query = scripted::wait_for("DNSServiceQueryRecord");
    EXPECT_EQ(0u, query->flags);
    EXPECT_EQ("korvex-1.local", query->name.value_or("<null>"));
    EXPECT_EQ(kDNSServiceType_A, query->rrtype);
    EXPECT_EQ(kDNSServiceClass_IN, query->rrclass);

    // Avahi names the host without the trailing dot it may have been asked with.
    scripted::query_reply(query, kDNSServiceFlagsAdd, 2, 0, "korvex-1.local", 1, kAddress);
    scripted::query_reply(query, 0, 2, 0, "korvex-1.local", 1, kAddress);
    ASSERT_TRUE(listener->wait(2));
    const auto events = listener->events();
    EXPECT_TRUE(events[0].resolved);
    EXPECT_EQ(2u, events[0].interface_index);
    EXPECT_EQ("korvex-1.local", events[0].hostname);
    EXPECT_EQ("10.77.0.11", events[0].address);
    EXPECT_FALSE(events[1].resolved);
}

TEST_F(AvahiAdaptation, RenamedRegistrationIsReportedAsCollisionAndWithdrawn) {
    registered = client->register_service("Studio A", "_http._tcp", 80, {"a=b"},
                                          {"_ravenna", "_kelmora_maintenance"}, states.callback());
    ASSERT_NE(nullptr, registered);
    const auto op = scripted::wait_for("DNSServiceRegister");
    EXPECT_EQ(0u, op->flags);
    EXPECT_EQ("_http._tcp,_ravenna,_kelmora_maintenance", op->regtype.value_or("<null>"));

    scripted::register_reply(op, 0, 0, "Studio A #2", "_http._tcp.", "local.");
    ASSERT_TRUE(states.wait(1));
    EXPECT_EQ(std::vector<int>{service::name_collision}, states.events());
    EXPECT_TRUE(logged("bonjour_service failed name collision (-65548)\n"));
    EXPECT_TRUE(scripted::wait_released(op));
}

TEST_F(AvahiAdaptation, RegistrationUnderItsOwnNameIsRegistered) {
    registered = client->register_service("Studio A", "_http._tcp", 80, {}, {}, states.callback());
    const auto op = scripted::wait_for("DNSServiceRegister");
    scripted::register_reply(op, 0, 0, "Studio A", "_http._tcp.", "local.");
    ASSERT_TRUE(states.wait(1));
    EXPECT_EQ(std::vector<int>{service::registered}, states.events());
    EXPECT_FALSE(scripted::released(op));
}

} // namespace
