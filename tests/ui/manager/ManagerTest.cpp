// The manager with a real core and simulated devices answering HTTP, its DNS-SD replies played by
// the scripted provider at chosen moments: a refresh for a returning device runs on the interface
// thread only, a watcher stopped from the poll thread never waits for that poll thread, and a
// reply after the manager has gone reaches nothing.

#include "ui/manager/Manager.h"

#include "DeviceSimulator.h"
#include "ManagerEnvironment.h"
#include "RecordingListener.h"
#include "scripted_dns_sd.h"
#include "ui/UiScale.h"
#include "ui/manager/HeadProbe.h"

#include <QApplication>
#include <QIcon>
#include <QTest>

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <thread>

namespace {

using kv::portal::Manager;
using kv::test::DeviceSimulator;

kv::test::ManagerEnvironment& environment() {
    static kv::test::ManagerEnvironment instance;
    return instance;
}

class ManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        scripted::reset();
        environment().setSettings("zeroconf_ext=1\n");
    }
    void TearDown() override {
        if (manager) {
            manager->core()->removeListener(&events);
        }
        manager.reset();
        EXPECT_TRUE(scripted::wait_all_released()) << "DNS-SD references left unreleased";
        for (const auto& misuse : scripted::misuses()) {
            ADD_FAILURE() << misuse;
        }
        qputenv("KVPORTAL_COLOR_SCHEME", "light");
        kv::portal::setUiScale(1.0f);
    }

    void start() {
        manager = std::make_unique<Manager>();
        manager->core()->addListener(&events);
        manager->start();
    }
    // The browse for the first subtype of the manager's nth start.
    static scripted::operation_ptr browse(std::size_t start) {
        return scripted::wait_for("DNSServiceBrowse", start * 3 - 2);
    }
    // A KELMORA+KORVEX device appears on the browse and resolves; its address query is returned
    // unanswered.
    scripted::operation_ptr appear(const scripted::operation_ptr& browse, const std::string& name) {
        scripted::browse_reply(browse, kDNSServiceFlagsAdd, 2, 0, name.c_str(), "_http._tcp.",
                               "local.");
        std::string txt;
        for (const std::string entry : {"vendor=Kelmora Technologies", "product=KELMORA+KORVEX",
                                        "version=1.0.0b1", "firmware_generation=1"}) {
            txt += static_cast<char>(entry.size()) + entry;
        }
        scripted::resolve_reply(scripted::wait_for("DNSServiceResolve", ++resolves_), 0, 2, 0,
                                (name + "._http._tcp.local.").c_str(), (name + ".local.").c_str(),
                                80, txt);
        return scripted::wait_for("DNSServiceQueryRecord", ++queries_);
    }
    static void answer(const scripted::operation_ptr& query, const DeviceSimulator& device) {
        in_addr address{};
        ::inet_pton(AF_INET, device.address().c_str(), &address);
        const std::string host = query->name.value_or("");
        scripted::query_reply(query, kDNSServiceFlagsAdd, 2, 0,
                              host.substr(0, host.size() - 1).c_str(), kDNSServiceType_A,
                              std::string(reinterpret_cast<char*>(&address), 4));
    }
    void announce(const scripted::operation_ptr& browse, const std::string& name,
                  const DeviceSimulator& device) {
        answer(appear(browse, name), device);
    }
    static void withdraw(const scripted::operation_ptr& browse, const std::string& name) {
        scripted::browse_reply(browse, 0, 2, 0, name.c_str(), "_http._tcp.", "local.");
    }
    // A device the watcher probes, announced at the first start.
    void watch(DeviceSimulator& device, const std::string& name) {
        start();
        announce(browse(1), name, device);
        ASSERT_TRUE(events.waitFor("added " + name));
        ASSERT_TRUE(QTest::qWaitFor([&] { return device.counter("head_requests") > 0; }, 20000));
    }
    // The watcher finds the device silent and removes it, though DNS-SD still lists it.
    void silence(DeviceSimulator& device, const std::string& name) {
        device.configure(R"({"status_service": "refuse"})");
        ASSERT_TRUE(events.waitFor("removed " + name));
    }

    kv::test::RecordingListener events;
    std::unique_ptr<Manager> manager;
    std::size_t resolves_ = 0;
    std::size_t queries_ = 0;
};

// A Dante twin shows its device's logo; some logos have a variant per scheme, the others serve
// both. Each is rendered once per scheme, theme images once by name, at the interface's scale.
TEST_F(ManagerTest, ServesEachLogoForTheSchemeAndThemeImagesAtTheScaleFromItsCache) {
    Manager pictures;
    const auto image = [](const char* name, int side) {
        return QIcon(name).pixmap(side, side).toImage();
    };
    const struct {
        const char* code;
        const char* scheme;
        const char* resource;
    } cases[] = {
        {"KORVEX-FIRMWARE", "light", ":/KORVEX-FIRMWARE"},
        {"KORVEX-FIRMWARE-DANTE", "light", ":/KORVEX-FIRMWARE"},
        {"KORVEX-REMOTE-CONTROLLER", "light", ":/KORVEX-REMOTE-CONTROLLER-LIGHT"},
        {"KORVEX-REMOTE-CONTROLLER", "dark", ":/KORVEX-REMOTE-CONTROLLER-DARK"},
        {"VORNET", "dark", ":/VORNET"},
    };
    for (const auto& c : cases) {
        qputenv("KVPORTAL_COLOR_SCHEME", c.scheme);
        EXPECT_EQ(pictures.productPixmap(c.code)->toImage(), image(c.resource, 96)) << c.code;
    }
    EXPECT_TRUE(pictures.productPixmap("NO-SUCH-PRODUCT")->isNull());
    QPixmap* dark = pictures.productPixmap("VORNET");
    EXPECT_EQ(pictures.productPixmap("VORNET-DANTE"), dark);
    qputenv("KVPORTAL_COLOR_SCHEME", "light");
    QPixmap* light = pictures.productPixmap("VORNET");
    EXPECT_NE(light, dark);
    EXPECT_EQ(pictures.productPixmap("VORNET"), light);

    kv::portal::setUiScale(1.5f);
    EXPECT_EQ(pictures.productPixmap("PELRA-FIRMWARE")->size(), QSize(144, 144));
    QPixmap* arrow = pictures.themePixmap("theme_arrow_down", 16, 16);
    EXPECT_EQ(arrow->toImage(), image(":/theme_arrow_down", 24));
    qputenv("KVPORTAL_COLOR_SCHEME", "dark");
    EXPECT_EQ(pictures.themePixmap("theme_arrow_down", 32, 32), arrow);
    EXPECT_EQ(arrow->size(), QSize(24, 24));
    EXPECT_NE(pictures.themePixmap("theme_arrow_up", 16, 16), arrow);
}

// Only with the setting at 1 does a watcher probe the devices, and only over http.
TEST_F(ManagerTest, TheWatcherComesWithTheSettingAndProbesOverHttpOnly) {
    // Each write differs in size from the one before: Qt takes a settings file of the same size
    // and time stamp (written within one clock tick) as unchanged.
    for (const char* setting : {"", "zeroconf_ext=2\n", "", "zeroconf_ext=1\n"}) {
        environment().setSettings(setting);
        EXPECT_EQ(Manager().watcher() != nullptr,
                  std::string(setting).find("=1") != std::string::npos);
    }
    DeviceSimulator device({});
    EXPECT_TRUE(kv::portal::deviceAnswers(device.address()));
    EXPECT_EQ(device.counter("head_requests"), 1);
    EXPECT_FALSE(kv::portal::deviceAnswers("file:///etc/hostname"));
    EXPECT_FALSE(kv::portal::deviceAnswers("127.0.0.1:9"));
}

// The applications stay.
TEST_F(ManagerTest, ARefreshForgetsTheDevicesAtOnceAndALateReplyReachesNothing) {
    DeviceSimulator device({});
    start();
    for (const char* application : {"KVPortal", "VORNET", "KVDiscovery"}) {
        EXPECT_EQ(events.count(std::string("added ") + application), 1) << application;
    }
    announce(browse(1), "KORVEX-1", device);
    ASSERT_TRUE(events.waitFor("added KORVEX-1"));
    manager->refresh();
    EXPECT_EQ(events.count("removed KORVEX-1"), 1);
    EXPECT_EQ(events.startingWith("removed").size(), 1u);
    const auto query = appear(browse(2), "KORVEX-1");
    // The pending query keeps its client and poll thread past the manager and its core.
    manager->core()->removeListener(&events);
    manager.reset();
    const int queries = device.counter("status_queries");
    answer(query, device);
    ASSERT_TRUE(scripted::wait_processed(query));
    EXPECT_TRUE(scripted::wait_released(query));
    EXPECT_EQ(device.counter("status_queries"), queries) << "the gone core asked the device";
}

TEST_F(ManagerTest, AWatcherStoppedFromThePollThreadWhileItsDeviceComesBackEndsPromptly) {
    DeviceSimulator device({});
    ASSERT_NO_FATAL_FAILURE(watch(device, "KORVEX-1"));
    ASSERT_NO_FATAL_FAILURE(silence(device, "KORVEX-1"));
    // The device answers again, slowly: its probe is under way when DNS-SD withdraws it, so
    // the poll thread waits in the watcher's stop while the watcher sees the device return.
    const int probes = device.counter("head_requests");
    device.configure(R"({"status_service": "answer", "head_delay_ms": 1500})");
    ASSERT_TRUE(QTest::qWaitFor([&] { return device.counter("head_requests") > probes; }, 20000));
    withdraw(browse(1), "KORVEX-1");
    // The poll thread serves the next reply once the stop has ended.
    device.configure(R"({"head_delay_ms": 0})");
    announce(browse(1), "KORVEX-1", device);
    EXPECT_TRUE(events.waitForCount("added KORVEX-1", 2));
}

// The watcher ends with the last device; the next one starts it again: it finds that one
// silent too.
TEST_F(ManagerTest, TheWatcherStartsAgainWhenANewDeviceComesAfterTheLastOneLeft) {
    DeviceSimulator first({});
    ASSERT_NO_FATAL_FAILURE(watch(first, "KORVEX-1"));
    withdraw(browse(1), "KORVEX-1");
    ASSERT_TRUE(events.waitFor("removed KORVEX-1"));
    DeviceSimulator::Options options;
    options.serial = "KV0000002";
    DeviceSimulator second(options);
    announce(browse(1), "KORVEX-2", second);
    ASSERT_TRUE(events.waitFor("added KORVEX-2"));
    silence(second, "KORVEX-2");
}

TEST_F(ManagerTest, ARefreshForAReturningDeviceWaitsForTheInterfaceThread) {
    DeviceSimulator device({});
    ASSERT_NO_FATAL_FAILURE(watch(device, "KORVEX-1"));
    ASSERT_NO_FATAL_FAILURE(silence(device, "KORVEX-1"));
    // The interface thread's own refresh stays in the middle of ending the old browsers
    // while the watcher sees the device answer again and completes two passes.
    scripted::hold_poll();
    ASSERT_TRUE(scripted::wait_poll_held());
    const int probes = device.counter("head_requests");
    device.configure(R"({"status_service": "answer"})");
    std::thread releaser([&] {
        // The simulator is another process: it can only be asked.
        while (device.counter("head_requests") < probes + 2) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        scripted::release_poll();
    });
    manager->refresh();
    releaser.join();
    EXPECT_EQ(scripted::started("DNSServiceBrowse"), 6u)
        << "the watcher rebuilt the browsers on its own thread";
    // The watcher's request runs with the interface thread's events, once.
    EXPECT_TRUE(QTest::qWaitFor([] { return scripted::started("DNSServiceBrowse") == 9; }, 20000));
    QApplication::processEvents();
    EXPECT_EQ(scripted::started("DNSServiceBrowse"), 9u);
    announce(browse(3), "KORVEX-1", device);
    EXPECT_TRUE(events.waitForCount("added KORVEX-1", 2));
}

} // namespace

int main(int argc, char** argv) {
    environment();
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
