// Discovery against a real avahi-daemon in a private network namespace (studio/netlab.py).
#include "LabSuite.h"
#include "StdoutCapture.h"
#include "client.h"
#include "recording_listeners.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

using kv::test::Lab;
using namespace zeroconf_test;

namespace {

struct Device {
    int host;
    std::string instance, subtype;
    std::vector<std::string> txt;
};

std::size_t count(const std::vector<std::string>& events, const std::string& name) {
    return std::count_if(events.begin(), events.end(), [&](const std::string& event) {
        return event.find(" " + name + " ") != std::string::npos;
    });
}

class AvahiLab : public kv::test::LabSuite {
protected:
    // Devices, each with its own host name and address, announced together; again, when the
    // lab's interface has their addresses already.
    std::vector<std::unique_ptr<Lab::Announcement>> announce(const std::vector<Device>& devices,
                                                             bool again = false) {
        std::vector<Lab::Address> addresses;
        std::vector<Lab::Service> services;
        for (const auto& device : devices) {
            const std::string host = "korvex-" + std::to_string(device.host) + ".local";
            if (!again) {
                lab->addAddress(lab->address(device.host));
            }
            addresses.push_back({host, lab->address(device.host)});
            services.push_back(
                {device.instance, "_http._tcp", 80, host, {device.subtype}, device.txt});
        }
        return lab->publishMany(addresses, services);
    }

    std::shared_ptr<recording_listener> watch(const std::string& subtype) {
        auto listener = std::make_shared<recording_listener>();
        browsers.push_back(client->browse("", "_http._tcp", subtype, listener, false));
        EXPECT_NE(nullptr, browsers.back()) << subtype;
        return listener;
    }

    std::shared_ptr<zeroconf::client> client = zeroconf::create_client(-1);
    std::vector<std::shared_ptr<zeroconf::browser>> browsers;
};

TEST_F(AvahiLab, EverySubtypeFindsItsDevicesWithHostAddressPortAndTxtAndSeesThemGo) {
    const std::vector<Device> devices{
        {11,
         "Studio.A R\xc3\xa9gie",
         "_ravenna",
         {"product=KELMORA+KORVEX", "vendor=Kelmora Technologies", "version=1.2.3b45"}},
        {12, "Live Room 2", "_kelmora_dante_zman", {"vendor=Kelmora Technologies"}},
        {13, "Maint.\xc3\x9cnit", "_kelmora_maintenance", {"a=b"}}};
    auto announced = announce(devices);
    std::vector<std::shared_ptr<recording_listener>> listeners;
    for (const auto& device : devices) {
        listeners.push_back(watch(device.subtype));
    }
    for (std::size_t i = 0; i < devices.size(); ++i) {
        ASSERT_TRUE(listeners[i]->wait_resolved(1)) << devices[i].subtype;
        const std::string host = "korvex-" + std::to_string(devices[i].host) + ".local.";
        std::string expected = " " + devices[i].instance + " _http._tcp. " + host + " " +
                               lab->address(devices[i].host) + " 80";
        for (const auto& entry : devices[i].txt) {
            expected += " " + entry;
        }
        const std::string found = listeners[i]->resolved().front();
        EXPECT_EQ(expected, found.substr(found.find(' ')));
        EXPECT_NE("+0", found.substr(0, found.find(' ')));
    }

    lab->withdraw(announced);
    for (std::size_t i = 0; i < devices.size(); ++i) {
        ASSERT_TRUE(listeners[i]->wait_removed(1)) << devices[i].subtype;
        EXPECT_EQ(1u, count(listeners[i]->removed(), devices[i].instance));
        EXPECT_EQ(1u, listeners[i]->resolved().size()) << devices[i].subtype << " saw another's";
    }
}

// A package upgrade restarts avahi-daemon under running browses, which its announcers survive
// only by announcing again: browsing resumes by itself, an instance announced again stays as it
// was, one that is not is reported gone, and a new one is found.
TEST_F(AvahiLab, BrowsingResumesWhenAvahiDaemonRestarts) {
    auto before =
        announce({{41, "Kept Device", "_ravenna", {}}, {42, "Gone Device", "_ravenna", {}}});
    auto listener = watch("_ravenna");
    watch("_kelmora_dante_zman");
    watch("_kelmora_maintenance");
    ASSERT_TRUE(listener->wait_resolved(2));

    auto capture = std::make_unique<kv::test::StdoutCapture>();
    lab->restartAvahi();
    before.clear();
    auto kept = announce({{41, "Kept Device", "_ravenna", {}}}, true);
    auto newcomer = announce({{43, "Newcomer", "_ravenna", {}}});
    const bool settled = listener->wait_until([](const auto& events) {
        return count(only(events, '+'), "Newcomer") == 1 && !only(events, '-').empty();
    });
    const std::string log = capture->text();
    capture.reset();
    EXPECT_TRUE(settled) << log;
    const auto removed = listener->removed();
    ASSERT_EQ(1u, removed.size());
    EXPECT_EQ(1u, count(removed, "Gone Device"));
    EXPECT_EQ(1u, count(listener->resolved(), "Kept Device"));
    // Once for the three browsers, and in place of each operation's error.
    const std::string away = "zeroconf_category: DNS-SD browsing stopped (";
    EXPECT_NE(std::string::npos, log.find(away)) << log;
    EXPECT_EQ(log.rfind(away), log.find(away)) << log;
    EXPECT_EQ(std::string::npos, log.find("errorCode")) << log;
}

TEST_F(AvahiLab, RegisteredServiceIsVisibleUntilDestroyed) {
    state_recorder states;
    auto service = client->register_service("KVPortal Test.1", "_http._tcp", 8123,
                                            {"vendor=Kelmora Technologies", "version=2"},
                                            {"_kelmora_maintenance"}, states.callback());
    ASSERT_NE(nullptr, service);
    ASSERT_TRUE(states.wait(1));
    EXPECT_EQ(std::vector<int>{zeroconf::service::registered}, states.events());
    auto listener = watch("_kelmora_maintenance");
    ASSERT_TRUE(listener->wait_resolved(1));
    EXPECT_NE(std::string::npos,
              listener->resolved().front().find(" KVPortal Test.1 _http._tcp. "));
    EXPECT_NE(std::string::npos,
              listener->resolved().front().find(" 8123 vendor=Kelmora Technologies version=2"));

    std::string seen;
    ASSERT_EQ(0, lab->run({"avahi-browse", "-rpt", "_kelmora_maintenance._sub._http._tcp"}, &seen));
    EXPECT_NE(std::string::npos, seen.find("=;kv0;IPv4;KVPortal\\032Test\\.1;")) << seen;
    EXPECT_NE(std::string::npos, seen.find("\"version=2\"")) << seen;

    service.reset();
    ASSERT_TRUE(listener->wait_removed(1));
    ASSERT_EQ(0, lab->run({"avahi-browse", "-rpt", "_kelmora_maintenance._sub._http._tcp"}, &seen));
    EXPECT_EQ(std::string::npos, seen.find("KVPortal")) << seen;
}

TEST_F(AvahiLab, FollowingAHostNameReportsItsAddressAndItsGoing) {
    lab->addAddress(lab->address(31));
    auto address = lab->publishAddress("korvex-31.local", lab->address(31));
    auto listener = std::make_shared<recording_listener>();
    auto browser = client->browse_hostname("korvex-31.local", listener);
    ASSERT_NE(nullptr, browser);
    ASSERT_TRUE(listener->wait(1));
    const std::string found = listener->events().front();
    EXPECT_EQ(" korvex-31.local " + lab->address(31), found.substr(found.find(' ')));
    EXPECT_EQ('+', found[0]);

    address.reset();
    ASSERT_TRUE(listener->wait(2));
    EXPECT_EQ('-', listener->events()[1][0]);
}

} // namespace
