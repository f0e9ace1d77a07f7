#include "scripted_fixture.h"

#include <gtest/gtest.h>
#include <netinet/in.h>

#include <memory>
#include <string>

using namespace zeroconf_test;
using zeroconf::service;

namespace {

using GetAddrInfoReply = void (*)(DNSServiceRef, DNSServiceFlags, std::uint32_t,
                                  DNSServiceErrorType, const char*, const sockaddr*, std::uint32_t,
                                  void*);

// An answer for the host name, with an IPv4 address, an IPv6 one, or none.
void addressed(const scripted::operation_ptr& op, DNSServiceFlags flags, const char* hostname,
               sa_family_t family, DNSServiceErrorType error = 0) {
    scripted::post(op, [=](DNSServiceRef ref) {
        sockaddr_in6 address{};
        address.sin6_family = family;
        reinterpret_cast<sockaddr_in*>(&address)->sin_addr.s_addr = htonl(0x0a4d000b);
        reinterpret_cast<GetAddrInfoReply>(op->callback)(
            ref, flags, 3, error, hostname,
            family != 0 ? reinterpret_cast<const sockaddr*>(&address) : nullptr, 120, op->context);
        return kDNSServiceErr_NoError;
    });
}

class HostnameService : public ScriptedTest {
protected:
    std::shared_ptr<zeroconf::hostname_browser> followed;
    state_recorder states;
    std::shared_ptr<service> registered;
};

// Answers for other names and errors are not reported; an IPv6 answer gives an empty address.
TEST_F(HostnameService, FollowsTheIPv4AddressOfOnlyItsNameAndReportsItsComingAndGoing) {
    followed = client->browse_hostname("korvex-1.local", listener);
    const auto op = scripted::wait_for("DNSServiceGetAddrInfo");
    EXPECT_EQ(0x1000u, op->flags);
    EXPECT_EQ(3u, op->interface_index);
    EXPECT_EQ(1u, op->protocol);
    EXPECT_EQ("korvex-1.local", op->name);

    addressed(op, kDNSServiceFlagsAdd, "korvex-2.local", AF_INET);
    addressed(op, 0, nullptr, 0, kUnknown);
    addressed(op, kDNSServiceFlagsAdd, "korvex-1.local", AF_INET6);
    addressed(op, kDNSServiceFlagsAdd, "korvex-1.local", AF_INET);
    addressed(op, 0, "korvex-1.local", 0);
    ASSERT_TRUE(scripted::wait_processed(op, 5));
    const auto events = listener->events();
    ASSERT_EQ(3u, events.size());
    EXPECT_EQ("", events[0].address);
    EXPECT_TRUE(events[1].resolved);
    EXPECT_EQ(3u, events[1].interface_index);
    EXPECT_EQ("korvex-1.local", events[1].name);
    EXPECT_EQ("10.77.0.11", events[1].address);
    EXPECT_FALSE(events[2].resolved);
    EXPECT_EQ("korvex-1.local", events[2].name);
    EXPECT_TRUE(logged("errorCode = -65537\n"));
    EXPECT_NE(std::string::npos, log().find("] Hostname Resolved korvex-1.local -> 10.77.0.11\n"));
    EXPECT_NE(std::string::npos, log().find("] Hostname Rmv korvex-1.local\n"));
}

TEST_F(HostnameService, RegistersUnderExactlyItsNameWithEverySubtypeAndReportsStates) {
    const std::string name(70, 'n');
    registered = client->register_service(name, "_http._tcp", 8080,
                                          {"vendor=Kelmora Technologies", "", "product=KORVEX"},
                                          {"_ravenna", "_kelmora_maintenance"}, states.callback());
    const auto op = scripted::wait_for("DNSServiceRegister");
    EXPECT_EQ(static_cast<DNSServiceFlags>(kDNSServiceFlagsNoAutoRename), op->flags);
    EXPECT_EQ(3u, op->interface_index);
    EXPECT_EQ(name, op->name);
    EXPECT_EQ("_http._tcp,_ravenna,_kelmora_maintenance", op->regtype);
    EXPECT_FALSE(op->domain);
    EXPECT_EQ(htons(8080), op->network_port);
    EXPECT_EQ(kTxt, op->txt);
    EXPECT_EQ(service::unknown, registered->state());
    EXPECT_TRUE(logged("service name \"" + name + "\" is too long(70) should be < 64\n"));

    for (const DNSServiceErrorType error : {0, int{kDNSServiceErr_NameConflict}, kUnknown}) {
        scripted::answer<DNSServiceRegisterReply>(op, DNSServiceFlags{0}, error, "Studio A",
                                                  "_http._tcp.", "local.");
    }
    ASSERT_TRUE(states.wait(3));
    EXPECT_EQ((std::vector<int>{service::registered, service::name_collision, service::failed}),
              states.events());
    EXPECT_EQ(service::failed, registered->state());
    EXPECT_TRUE(logged("bonjour_service failed name collision (-65548)\n"));
    EXPECT_TRUE(logged("bonjour_service failed (-65537)\n"));
    registered.reset();
    EXPECT_TRUE(scripted::wait_released(op));
}

} // namespace
