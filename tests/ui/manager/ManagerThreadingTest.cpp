// The manager's threads against each other, with DNS-SD replies played by the scripted provider
// at chosen moments and real simulated devices answering HTTP: a refresh for a returning device
// runs on the interface thread only, a watcher stopped from the poll thread never waits for
// that poll thread, and a reply after the manager has gone reaches nothing.

#include "DeviceSimulator.h"
#include "ManagerEnvironment.h"
#include "ScriptedDiscovery.h"
#include "core/Core.h"
#include "scripted_dns_sd.h"
#include "ui/manager/Manager.h"

#include <QApplication>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <thread>

namespace {

using kv::portal::Manager;
using kv::test::DeviceSimulator;
using kv::test::korvexTxt;
using kv::test::waitUntil;

constexpr int kEventDeadlineMs = 30000;

kv::test::ManagerEnvironment& environment() {
    static kv::test::ManagerEnvironment instance;
    return instance;
}

class ManagerThreading : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(nullptr, std::getenv("KVPORTAL_DNSSD_LIBRARY")) << "run through ctest";
        scripted::reset();
        environment().setSettings("zeroconf_ext=1\n");
    }

    void TearDown() override {
        manager.reset();
        EXPECT_TRUE(scripted::wait_all_released()) << "DNS-SD references left unreleased";
        for (const auto& misuse : scripted::misuses()) {
            ADD_FAILURE() << misuse;
        }
        scripted::reset();
    }

    bool known(const std::string& name) { return manager->core()->findProduct(name) != nullptr; }

    // A device the watcher probes, announced on the first browse of the first start.
    void watchDevice(DeviceSimulator& device, const std::string& name) {
        manager = std::make_unique<Manager>();
        manager->start();
        discovery.announce(discovery.browse(1, 0), name, device.address(), korvexTxt());
        ASSERT_TRUE(waitUntil([&] { return known(name); }));
        ASSERT_TRUE(waitUntil([&] { return device.counter("head_requests") > 0; }));
    }

    // The watcher finds the device silent and removes it, though DNS-SD still lists it.
    void silence(DeviceSimulator& device, const std::string& name) {
        device.configure(R"({"status_service": "refuse"})");
        ASSERT_TRUE(waitUntil([&] { return !known(name); }));
    }

    kv::test::ScriptedDiscovery discovery;
    std::unique_ptr<Manager> manager;
};

TEST_F(ManagerThreading, AddressReplyAfterTheManagerHasGoneReachesNothing) {
    DeviceSimulator device({});
    manager = std::make_unique<Manager>();
    manager->start();
    const auto query =
        discovery.announceWithoutAddress(discovery.browse(1, 0), "KORVEX-1", korvexTxt());

    // The pending query keeps its client and poll thread past the manager and its core.
    manager.reset();
    discovery.answerAddress(query, device.address());
    ASSERT_TRUE(scripted::wait_processed(query));
    EXPECT_TRUE(scripted::wait_released(query));
    EXPECT_EQ(device.counter("status_queries"), 0) << "the gone core asked the device";
}

TEST_F(ManagerThreading, WatcherStoppedFromThePollThreadWhileItsDeviceComesBackEndsPromptly) {
    DeviceSimulator device({});
    ASSERT_NO_FATAL_FAILURE(watchDevice(device, "KORVEX-1"));
    ASSERT_NO_FATAL_FAILURE(silence(device, "KORVEX-1"));

    // The device answers again, slowly: its probe is under way when DNS-SD withdraws it, so
    // the poll thread waits in the watcher's stop while the watcher sees the device return.
    const int probes = device.counter("head_requests");
    device.configure(R"({"status_service": "answer", "head_delay_ms": 1500})");
    ASSERT_TRUE(waitUntil([&] { return device.counter("head_requests") > probes; }));
    const auto browse = discovery.browse(1, 0);
    discovery.withdraw(browse, "KORVEX-1");

    // The poll thread serves the next reply once the stop has ended.
    device.configure(R"({"head_delay_ms": 0})");
    discovery.announce(browse, "KORVEX-1", device.address(), korvexTxt());
    EXPECT_TRUE(waitUntil([&] { return known("KORVEX-1"); }));
}

TEST_F(ManagerThreading, WatcherStartsAgainWhenANewDeviceComesAfterTheLastOneLeft) {
    DeviceSimulator first({});
    ASSERT_NO_FATAL_FAILURE(watchDevice(first, "KORVEX-1"));
    const auto browse = discovery.browse(1, 0);
    discovery.withdraw(browse, "KORVEX-1");

    DeviceSimulator::Options options;
    options.serial = "KV0000002";
    DeviceSimulator second(options);
    discovery.announce(browse, "KORVEX-2", second.address(), korvexTxt());
    ASSERT_TRUE(waitUntil([&] { return known("KORVEX-2"); }));
    EXPECT_FALSE(known("KORVEX-1"));
    EXPECT_TRUE(waitUntil([&] { return second.counter("head_requests") > 0; }));
}

TEST_F(ManagerThreading, RefreshForAReturningDeviceWaitsForTheInterfaceThread) {
    DeviceSimulator device({});
    ASSERT_NO_FATAL_FAILURE(watchDevice(device, "KORVEX-1"));
    ASSERT_NO_FATAL_FAILURE(silence(device, "KORVEX-1"));

    // The interface thread's own refresh stays in the middle of ending the old browsers
    // while the watcher sees the device answer again and completes two passes.
    scripted::hold_poll();
    ASSERT_TRUE(scripted::wait_poll_held());
    const int probes = device.counter("head_requests");
    device.configure(R"({"status_service": "answer"})");
    std::thread releaser([&] {
        waitUntil([&] { return device.counter("head_requests") >= probes + 2; });
        scripted::release_poll();
    });
    manager->refresh();
    releaser.join();
    EXPECT_EQ(scripted::started("DNSServiceBrowse"), 6u)
        << "the watcher rebuilt the browsers on its own thread";

    // The watcher's request runs with the interface thread's events, once.
    EXPECT_TRUE(QTest::qWaitFor([] { return scripted::started("DNSServiceBrowse") == 9; },
                                kEventDeadlineMs));
    QApplication::processEvents();
    EXPECT_EQ(scripted::started("DNSServiceBrowse"), 9u);
    discovery.announce(discovery.browse(3, 0), "KORVEX-1", device.address(), korvexTxt());
    EXPECT_TRUE(waitUntil([&] { return known("KORVEX-1"); }));
}

} // namespace

int main(int argc, char** argv) {
    environment();
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
