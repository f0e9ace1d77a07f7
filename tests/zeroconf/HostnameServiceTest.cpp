#include "client.h"
#include "recording_listeners.h"
#include "scripted_fixture.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>

#include <memory>
#include <string>

using zeroconf::service;
using zeroconf_test::recording_hostname_listener;
using zeroconf_test::ScriptedTest;
using zeroconf_test::state_recorder;

namespace {

constexpr DNSServiceErrorType kUnknown = -65537;

sockaddr_in ipv4(const char* text) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    ::inet_pton(AF_INET, text, &address.sin_addr);
    return address;
}

class HostnameBrowse : public ScriptedTest {
protected:
    scripted::operation_ptr follow(const std::string& hostname) {
        browser = client->browse_hostname(hostname, listener);
        EXPECT_NE(nullptr, browser);
        return scripted::wait_for("DNSServiceGetAddrInfo");
    }

    void answer(const scripted::operation_ptr& op, DNSServiceFlags flags, const char* hostname,
                const char* address) {
        const sockaddr_in answer = ipv4(address);
        scripted::addr_reply(op, flags, 3, 0, hostname, reinterpret_cast<const sockaddr*>(&answer),
                             sizeof(answer));
    }

    std::shared_ptr<recording_hostname_listener> listener =
        std::make_shared<recording_hostname_listener>();
    std::shared_ptr<zeroconf::client> client = zeroconf::create_client(3);
    std::shared_ptr<zeroconf::hostname_browser> browser;
};

TEST_F(HostnameBrowse, AsksForTheIPv4AddressAndReportsItsComingAndGoing) {
    const auto op = follow("korvex-1.local");
    EXPECT_EQ(0x1000u, op->flags);
    EXPECT_EQ(3u, op->interface_index);
    EXPECT_EQ(1u, op->protocol);
    EXPECT_EQ("korvex-1.local", op->name.value_or("<null>"));

    answer(op, kDNSServiceFlagsAdd, "korvex-1.local", "10.77.0.11");
    scripted::addr_reply(op, 0, 3, 0, "korvex-1.local", nullptr, 0);
    ASSERT_TRUE(listener->wait(2));
    const auto events = listener->events();
    EXPECT_TRUE(events[0].resolved);
    EXPECT_EQ(3u, events[0].interface_index);
    EXPECT_EQ("korvex-1.local", events[0].hostname);
    EXPECT_EQ("10.77.0.11", events[0].address);
    EXPECT_FALSE(events[1].resolved);
    EXPECT_EQ("korvex-1.local", events[1].hostname);
    EXPECT_TRUE(logged("[0x"));
    EXPECT_NE(std::string::npos, log().find("] Hostname Resolved korvex-1.local -> 10.77.0.11\n"));
    EXPECT_NE(std::string::npos, log().find("] Hostname Rmv korvex-1.local\n"));
}

// Answers for other names and errors are not reported; an IPv6 answer gives an empty address.
TEST_F(HostnameBrowse, OnlyAnswersForTheNameAreReported) {
    const auto op = follow("korvex-1.local");
    answer(op, kDNSServiceFlagsAdd, "korvex-2.local", "10.77.0.12");
    scripted::addr_reply(op, 0, 3, kUnknown, nullptr, nullptr, 0);
    sockaddr_in6 ipv6{};
    ipv6.sin6_family = AF_INET6;
    ipv6.sin6_addr.s6_addr[15] = 1;
    scripted::addr_reply(op, kDNSServiceFlagsAdd, 3, 0, "korvex-1.local",
                         reinterpret_cast<const sockaddr*>(&ipv6), sizeof(ipv6));
    answer(op, kDNSServiceFlagsAdd, "korvex-1.local", "10.77.0.11");
    ASSERT_TRUE(listener->wait(2));
    ASSERT_TRUE(scripted::wait_processed(op, 4));
    const auto events = listener->events();
    ASSERT_EQ(2u, events.size());
    EXPECT_TRUE(events[0].resolved);
    EXPECT_EQ("", events[0].address);
    EXPECT_EQ("10.77.0.11", events[1].address);
    EXPECT_TRUE(logged("errorCode = -65537\n"));
}

TEST_F(HostnameBrowse, FollowThatCannotStartIsLoggedAndEmpty) {
    scripted::fail_next("DNSServiceGetAddrInfo", kUnknown);
    EXPECT_EQ(nullptr, client->browse_hostname("korvex-1.local", listener));
    EXPECT_TRUE(
        logged("[3] korvex-1.local  ; runtime error DNSServiceGetAddrInfo() failed (-65537).\n"));
}

class Register : public ScriptedTest {
protected:
    scripted::operation_ptr announce(const std::string& name) {
        registered = client->register_service(
            name, "_http._tcp", 8080, {"vendor=Kelmora Technologies", "", "product=KORVEX"},
            {"_ravenna", "_kelmora_maintenance"}, states.callback());
        EXPECT_NE(nullptr, registered);
        return scripted::wait_for("DNSServiceRegister");
    }

    state_recorder states;
    std::shared_ptr<zeroconf::client> client = zeroconf::create_client(3);
    std::shared_ptr<service> registered;
};

TEST_F(Register, RegistersUnderExactlyItsNameWithEverySubtype) {
    const auto op = announce("Studio A");
    EXPECT_EQ(static_cast<DNSServiceFlags>(kDNSServiceFlagsNoAutoRename), op->flags);
    EXPECT_EQ(3u, op->interface_index);
    EXPECT_EQ("Studio A", op->name.value_or("<null>"));
    EXPECT_EQ("_http._tcp,_ravenna,_kelmora_maintenance", op->regtype.value_or("<null>"));
    EXPECT_FALSE(op->domain.has_value());
    EXPECT_EQ(htons(8080), op->network_port);
    EXPECT_EQ(std::string("\x1bvendor=Kelmora Technologies\x0eproduct=KORVEX", 43), op->txt);
    EXPECT_EQ(service::unknown, registered->state());

    scripted::register_reply(op, 0, 0, "Studio A", "_http._tcp.", "local.");
    ASSERT_TRUE(states.wait(1));
    EXPECT_EQ(std::vector<int>{service::registered}, states.events());
    EXPECT_EQ(service::registered, registered->state());

    registered.reset();
    EXPECT_TRUE(scripted::wait_released(op));
}

TEST_F(Register, NameCollisionAndFailureAreReportedAsStates) {
    const auto op = announce("Studio A");
    scripted::register_reply(op, 0, kDNSServiceErr_NameConflict, "Studio A", "_http._tcp.",
                             "local.");
    scripted::register_reply(op, 0, kUnknown, "Studio A", "_http._tcp.", "local.");
    ASSERT_TRUE(states.wait(2));
    EXPECT_EQ((std::vector<int>{service::name_collision, service::failed}), states.events());
    EXPECT_EQ(service::failed, registered->state());
    EXPECT_TRUE(logged("bonjour_service failed name collision (-65548)\n"));
    EXPECT_TRUE(logged("bonjour_service failed (-65537)\n"));
}

TEST_F(Register, OverlongNameIsWarnedAboutAndStillRegistered) {
    const std::string name(70, 'n');
    const auto op = announce(name);
    EXPECT_EQ(name, op->name.value_or("<null>"));
    EXPECT_TRUE(logged("service name \"" + name + "\" is too long(70) should be < 64\n"));
}

TEST_F(Register, RegistrationThatCannotStartIsLoggedAndEmpty) {
    scripted::fail_next("DNSServiceRegister", kUnknown);
    EXPECT_EQ(nullptr, client->register_service("Studio A", "_http._tcp", 80, {}, {}, {}));
    EXPECT_TRUE(logged("[3] Studio A  _http._tcp; runtime error Could not register service "
                       "\"Studio A\" (-65537).\n"));
}

} // namespace
