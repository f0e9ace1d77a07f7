// The scripted provider poses as Avahi's compatibility library here: any call Avahi would refuse
// (flags other than 0, a reconfirm) is a misuse, which fails the test. The lab runs the rest
// through Avahi's own library.
#include "scripted_fixture.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

using namespace zeroconf_test;
using zeroconf::service;

namespace {

class AvahiAdaptation : public ScriptedTest {
protected:
    AvahiAdaptation() { client = zeroconf::create_client(-1); }
    state_recorder states;
    std::shared_ptr<zeroconf::hostname_browser> hostname_browser;
    std::shared_ptr<service> registered;
};

// Avahi answers for the host without the trailing dot it was asked with.
TEST_F(AvahiAdaptation, HostNameIsFollowedThroughAnAddressRecordQueryUnderTheNameAsked) {
    hostname_browser = client->browse_hostname("korvex-1.local.", listener);
    const auto query = scripted::wait_for("DNSServiceQueryRecord");
    EXPECT_EQ("korvex-1.local.", query->name);
    queried(query, kDNSServiceFlagsAdd);
    queried(query, 0);
    ASSERT_TRUE(listener->wait(2));
    const auto events = listener->events();
    EXPECT_TRUE(events[0].resolved);
    EXPECT_EQ("korvex-1.local.", events[0].name);
    EXPECT_EQ("10.77.0.11", events[0].address);
    EXPECT_FALSE(events[1].resolved);
}

// Avahi renames a registration whose name is taken on the network: that is a collision, and the
// renamed one is withdrawn.
TEST_F(AvahiAdaptation, RenamedRegistrationIsACollisionAndWithdrawn) {
    for (const char* answered : {"Studio A", "Studio A #2"}) {
        const bool renamed = answered != std::string("Studio A");
        registered =
            client->register_service("Studio A", "_http._tcp", 80, {"a=b"},
                                     {"_ravenna", "_kelmora_maintenance"}, states.callback());
        const auto op = scripted::wait_for("DNSServiceRegister", renamed ? 2 : 1);
        EXPECT_EQ(0u, op->flags);
        EXPECT_EQ("_http._tcp,_ravenna,_kelmora_maintenance", op->regtype);
        scripted::answer<DNSServiceRegisterReply>(op, DNSServiceFlags{0}, 0, answered,
                                                  "_http._tcp.", "local.");
        ASSERT_TRUE(states.wait(renamed ? 2 : 1));
        EXPECT_EQ(renamed ? service::name_collision : service::registered, states.events().back());
        if (renamed) {
            EXPECT_TRUE(scripted::wait_released(op));
        } else {
            EXPECT_FALSE(scripted::released(op));
        }
    }
    EXPECT_TRUE(logged("bonjour_service failed name collision (-65548)\n"));
}

} // namespace
