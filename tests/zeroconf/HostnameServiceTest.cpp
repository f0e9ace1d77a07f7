#include "scripted_fixture.h"

#include <gtest/gtest.h>
#include <netinet/in.h>

#include <memory>
#include <string>
#include <vector>

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
    EXPECT_EQ("1000 3 korvex-1.local - -", describe(op));
    EXPECT_EQ(1u, op->protocol);
    EXPECT_EQ("korvex-1.local", op->name);

    addressed(op, kDNSServiceFlagsAdd, "korvex-2.local", AF_INET);
    addressed(op, 0, nullptr, 0, kUnknown);
    addressed(op, kDNSServiceFlagsAdd, "korvex-1.local", AF_INET6);
    addressed(op, kDNSServiceFlagsAdd, "korvex-1.local", AF_INET);
    addressed(op, 0, "korvex-1.local", 0);
    ASSERT_TRUE(scripted::wait_processed(op, 5));
    EXPECT_EQ((std::vector<std::string>{"+3 korvex-1.local ", "+3 korvex-1.local 10.77.0.11",
                                        "-3 korvex-1.local"}),
              listener->events());
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
    EXPECT_EQ("8 3 " + name + " _http._tcp,_ravenna,_kelmora_maintenance -", describe(op));
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
