// Discovery against a real avahi-daemon in a private network namespace (studio/netlab.py).
#include "LabSuite.h"
#include "StdoutCapture.h"
#include "client.h"
#include "recording_listeners.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

using kv::test::Lab;
using zeroconf_test::instance;
using zeroconf_test::only;
using zeroconf_test::recording_browser_listener;
using zeroconf_test::recording_hostname_listener;

namespace {

const std::vector<std::string> kStudioTxt{"vendor=Kelmora Technologies", "product=KELMORA+KORVEX",
                                          "version=1.2.3b45", "firmware_generation=2"};

std::vector<std::string> sorted(std::vector<std::string> items) {
    std::sort(items.begin(), items.end());
    return items;
}

class AvahiLab : public kv::test::LabSuite {
protected:
    struct Device {
        int host;
        std::string instance;
        std::string subtype;
        std::vector<std::string> txt;
    };

    // Devices, each with its own host name and address, announced together; again, when the
    // lab's interface has their addresses already.
    std::vector<std::unique_ptr<Lab::Announcement>> announce(const std::vector<Device>& devices,
                                                             bool again = false) {
        std::vector<Lab::Address> addresses;
        std::vector<Lab::Service> services;
        for (const auto& device : devices) {
            const std::string hostName = "korvex-" + std::to_string(device.host) + ".local";
            if (!again) {
                lab->addAddress(lab->address(device.host));
            }
            addresses.push_back({hostName, lab->address(device.host)});
            services.push_back(
                {device.instance, "_http._tcp", 80, hostName, {device.subtype}, device.txt});
        }
        return lab->publishMany(addresses, services);
    }

    zeroconf_test::state_recorder states;
    std::shared_ptr<zeroconf::client> client = zeroconf::create_client(-1);
};

TEST_F(AvahiLab, EverySubtypeFindsItsDevicesWithHostAddressPortAndTxtAndSeesThemGo) {
    auto devices =
        announce({{11, "Studio.A R\xc3\xa9gie", "_ravenna", kStudioTxt},
                  {12, "Live Room 2", "_kelmora_dante_zman", {"vendor=Kelmora Technologies"}},
                  {13, "Maint.\xc3\x9cnit", "_kelmora_maintenance", {}}});

    struct watched {
        std::string subtype;
        std::string instance;
        int host;
        std::shared_ptr<recording_browser_listener> listener;
        std::shared_ptr<zeroconf::browser> browser;
    };
    std::vector<watched> browsers{
        {"_ravenna", "Studio.A R\xc3\xa9gie", 11, nullptr, nullptr},
        {"_kelmora_dante_zman", "Live Room 2", 12, nullptr, nullptr},
        {"_kelmora_maintenance", "Maint.\xc3\x9cnit", 13, nullptr, nullptr}};
    for (auto& w : browsers) {
        w.listener = std::make_shared<recording_browser_listener>();
        w.browser = client->browse("", "_http._tcp", w.subtype, w.listener, false);
        ASSERT_NE(nullptr, w.browser) << w.subtype;
    }
    for (auto& w : browsers) {
        ASSERT_TRUE(w.listener->wait_resolved(1)) << w.subtype;
        const instance found = w.listener->resolved().front();
        EXPECT_EQ(w.instance, found.name);
        EXPECT_EQ("_http._tcp.", found.regtype);
        EXPECT_EQ("korvex-" + std::to_string(w.host) + ".local.", found.host);
        EXPECT_EQ(lab->address(w.host), found.address);
        EXPECT_EQ(80, found.port);
        EXPECT_NE(0u, found.interface_index);
    }
    EXPECT_EQ(sorted(kStudioTxt), sorted(browsers[0].listener->resolved().front().txt));
    EXPECT_EQ(std::vector<std::string>{"vendor=Kelmora Technologies"},
              browsers[1].listener->resolved().front().txt);

    lab->withdraw(devices);
    for (auto& w : browsers) {
        ASSERT_TRUE(w.listener->wait_removed(1)) << w.subtype;
        EXPECT_EQ(w.instance, w.listener->removed().front().name);
        EXPECT_EQ(1u, w.listener->resolved().size()) << w.subtype << " saw another's device";
    }
}

std::size_t count(const std::vector<zeroconf_test::instance>& resolved, const std::string& name) {
    return std::count_if(resolved.begin(), resolved.end(),
                         [&](const auto& instance) { return instance.name == name; });
}

// A package upgrade restarts avahi-daemon under running browses, which its announcers survive
// only by announcing again: browsing resumes by itself, an instance announced again stays as it
// was, one that is not is reported gone, and a new one is found.
TEST_F(AvahiLab, BrowsingResumesWhenAvahiDaemonRestarts) {
    auto before =
        announce({{41, "Kept Device", "_ravenna", {}}, {42, "Gone Device", "_ravenna", {}}});
    auto listener = std::make_shared<recording_browser_listener>();
    std::vector<std::shared_ptr<zeroconf::browser>> browsers;
    for (const char* subtype : {"_ravenna", "_kelmora_dante_zman", "_kelmora_maintenance"}) {
        browsers.push_back(client->browse("", "_http._tcp", subtype, listener, false));
        ASSERT_NE(nullptr, browsers.back());
    }
    ASSERT_TRUE(listener->wait_resolved(2));

    auto capture = std::make_unique<kv::test::StdoutCapture>();
    lab->restartAvahi();
    before.clear();
    auto kept = announce({{41, "Kept Device", "_ravenna", {}}}, true);
    auto newcomer = announce({{43, "Newcomer", "_ravenna", {}}});

    const bool settled = listener->wait_until([](const auto& events) {
        return count(only(events, true), "Newcomer") == 1 && !only(events, false).empty();
    });
    const std::string log = capture->text();
    capture.reset();
    EXPECT_TRUE(settled) << log;
    const auto removed = listener->removed();
    ASSERT_EQ(1u, removed.size());
    EXPECT_EQ("Gone Device", removed.front().name);
    EXPECT_EQ(1u, count(listener->resolved(), "Kept Device"));
    // Once for the three browsers, and in place of each operation's error.
    const std::string away = "zeroconf_category: DNS-SD browsing stopped (";
    EXPECT_NE(std::string::npos, log.find(away)) << log;
    EXPECT_EQ(log.rfind(away), log.find(away)) << log;
    EXPECT_EQ(std::string::npos, log.find("errorCode")) << log;
}

TEST_F(AvahiLab, RegisteredServiceIsVisibleToAvahiBrowseUntilDestroyed) {
    auto service = client->register_service("KVPortal Test.1", "_http._tcp", 8123,
                                            {"vendor=Kelmora Technologies", "version=2"},
                                            {"_kelmora_maintenance"}, states.callback());
    ASSERT_NE(nullptr, service);
    ASSERT_TRUE(states.wait(1));
    EXPECT_EQ(std::vector<int>{zeroconf::service::registered}, states.events());

    std::string seen;
    ASSERT_EQ(0, lab->run({"avahi-browse", "-rpt", "_kelmora_maintenance._sub._http._tcp"}, &seen));
    EXPECT_NE(std::string::npos, seen.find("=;kv0;IPv4;KVPortal\\032Test\\.1;"));
    EXPECT_NE(std::string::npos, seen.find(";8123;")) << seen;
    EXPECT_NE(std::string::npos, seen.find("\"version=2\"")) << seen;
}

TEST_F(AvahiLab, FollowingAHostNameReportsItsAddress) {
    lab->addAddress(lab->address(31));
    auto address = lab->publishAddress("korvex-31.local", lab->address(31));
    auto listener = std::make_shared<recording_hostname_listener>();
    auto browser = client->browse_hostname("korvex-31.local", listener);
    ASSERT_NE(nullptr, browser);
    ASSERT_TRUE(listener->wait(1));
    const auto event = listener->events().front();
    EXPECT_TRUE(event.resolved);
    EXPECT_EQ("korvex-31.local", event.hostname);
    EXPECT_EQ(lab->address(31), event.address);
}

} // namespace
