// The manager against a real avahi-daemon in the lab's network namespace, with simulated devices
// answering HTTP on loopback addresses that their announcements carry.

#include "DeviceSimulator.h"
#include "LabSuite.h"
#include "ManagerEnvironment.h"
#include "RecordingListener.h"
#include "core/Core.h"
#include "ui/manager/DeviceWatcher.h"
#include "ui/manager/HeadProbe.h"
#include "ui/manager/Manager.h"

#include <QApplication>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using kv::portal::Core;
using kv::portal::Manager;
using kv::portal::ProductPtr;
using kv::test::DeviceSimulator;
using kv::test::Lab;
using kv::test::waitUntil;
namespace code = kv::portal::code;

kv::test::ManagerEnvironment& environment() {
    static kv::test::ManagerEnvironment instance;
    return instance;
}

struct Device {
    std::string instance;
    std::string subtype;
    std::vector<std::string> txt;
    DeviceSimulator::Options options;
};

const std::vector<std::string> kKorvexTxt{"vendor=Kelmora Technologies", "product=KELMORA+KORVEX",
                                          "version=1.2.3b45", "firmware_generation=2"};
const std::vector<std::string> kRx48Txt{"vendor=Trennel", "product=RX 48 Mk2", "version=2.0.1b7"};
const std::vector<std::string> kVeskTxt{"vendor=Kelmora Technologies", "product=VESK-III",
                                        "version=3.1.0b2"};

class ManagerLab : public kv::test::LabSuite {
protected:
    void SetUp() override {
        LabSuite::SetUp();
        if (lab != nullptr) {
            environment().setSettings("");
        }
    }

    void TearDown() override {
        if (manager) {
            manager->core()->removeListener(&events);
            manager.reset();
        }
        if (lab && !announcements.empty()) {
            lab->withdraw(announcements);
        }
        simulators.clear();
    }

    void startManager(const std::string& settings) {
        environment().setSettings(settings);
        manager = std::make_unique<Manager>();
        manager->core()->addListener(&events);
        manager->start();
    }

    // Starts a simulator for each device and announces it with the simulator's address.
    void announce(const std::vector<Device>& devices) {
        std::vector<Lab::Address> addresses;
        std::vector<Lab::Service> services;
        for (const Device& device : devices) {
            simulators.push_back(std::make_unique<DeviceSimulator>(device.options));
            std::string host = device.instance;
            std::replace(host.begin(), host.end(), ' ', '-');
            host += ".local";
            addresses.push_back({host, simulators.back()->address()});
            services.push_back(
                {device.instance, "_http._tcp", 80, host, {device.subtype}, device.txt});
        }
        announcements = lab->publishMany(addresses, services);
    }

    ProductPtr product(const std::string& name) { return manager->core()->findProduct(name); }
    bool known(const std::string& name) { return product(name) != nullptr; }

    kv::test::RecordingListener events;
    std::vector<std::unique_ptr<DeviceSimulator>> simulators;
    std::vector<std::unique_ptr<Lab::Announcement>> announcements;
    std::unique_ptr<Manager> manager;
};

DeviceSimulator::Options danteCapable() {
    DeviceSimulator::Options options;
    options.danteCapable = true;
    return options;
}

TEST_F(ManagerLab, EverySubtypeBecomesAProductWithItsCompanionAndLeavesWhenWithdrawn) {
    startManager("");
    announce({{"Studio A", "_ravenna", kKorvexTxt, danteCapable()},
              {"Live Room", "_kelmora_dante_zman", kRx48Txt, {}},
              {"Machine Room", "_kelmora_maintenance", kVeskTxt, {}}});
    ASSERT_TRUE(waitUntil(
        [&] { return known("Studio A") && known("Live Room") && known("Machine Room"); }));

    const ProductPtr korvex = product("Studio A");
    EXPECT_EQ(korvex->code, code::KORVEX_FIRMWARE);
    EXPECT_EQ(korvex->address.get(), simulators[0]->address());
    EXPECT_EQ(korvex->serial.get(), "KV0000001");
    ASSERT_NE(korvex->twin.get(), nullptr);
    EXPECT_EQ(korvex->twin.get()->code, code::KORVEX_FIRMWARE_DANTE);
    EXPECT_EQ(product("Live Room")->code, code::RX48_FIRMWARE);
    EXPECT_EQ(product("Machine Room")->code, code::VESK_III_FIRMWARE);
    ASSERT_TRUE(known("Korvex Remote Controllers"));
    EXPECT_EQ(product("Korvex Remote Controllers")->code, code::KORVEX_REMOTE_CONTROLLER);
    ASSERT_TRUE(known("RX48 Toolkit"));
    EXPECT_EQ(product("RX48 Toolkit")->code, code::RX48_TOOLKIT_CONTROLLER);
    for (const char* application : {"KVPortal", "VORNET", "KVDiscovery"}) {
        EXPECT_TRUE(known(application)) << application;
    }

    lab->withdraw(announcements);
    EXPECT_TRUE(waitUntil(
        [&] { return !known("Studio A") && !known("Live Room") && !known("Machine Room"); }));
    EXPECT_TRUE(known("KVPortal"));
}

TEST_F(ManagerLab, RefreshRemovesTheDevicesAtOnceAndFindsThemAgain) {
    startManager("");
    announce({{"Stage Left", "_ravenna", kKorvexTxt, {}},
              {"Stage Right", "_kelmora_maintenance", kVeskTxt, {}}});
    ASSERT_TRUE(waitUntil([&] { return known("Stage Left") && known("Stage Right"); }));
    const ProductPtr portal = product("KVPortal");
    const size_t before = events.events().size();

    manager->refresh();
    const std::vector<std::string> atOnce = events.events();
    for (const char* device : {"Stage Left", "Stage Right"}) {
        EXPECT_NE(
            std::find(atOnce.begin() + before, atOnce.end(), std::string("removed ") + device),
            atOnce.end())
            << device;
    }
    // Listeners hear of a product just after it enters the list: wait for what they heard.
    const auto heardAgain = [&](const char* line) {
        const std::vector<std::string> lines = events.events();
        return std::count(lines.begin() + before, lines.end(), std::string(line));
    };
    ASSERT_TRUE(waitUntil(
        [&] { return heardAgain("added Stage Left") > 0 && heardAgain("added Stage Right") > 0; }));
    const std::vector<std::string> after = events.events();
    EXPECT_EQ(std::count(after.begin() + before, after.end(), "added Stage Left"), 1);
    EXPECT_EQ(std::count(after.begin() + before, after.end(), "removed KVPortal"), 0);
    EXPECT_EQ(product("KVPortal"), portal) << "the applications stay";
}

TEST_F(ManagerLab, WatcherRemovesASilentDeviceWithinAPassAndBringsItBackWhenItAnswers) {
    startManager("zeroconf_ext=1\n");
    ASSERT_NE(manager->watcher(), nullptr);
    announce({{"Control Room", "_ravenna", kKorvexTxt, {}}});
    ASSERT_TRUE(waitUntil([&] { return known("Control Room"); }));
    DeviceSimulator& device = *simulators[0];
    ASSERT_TRUE(waitUntil([&] { return device.counter("head_requests") > 0; }));

    // Its DNS-SD record stays; its web server stops answering.
    device.configure(R"({"status_service": "refuse"})");
    EXPECT_TRUE(waitUntil([&] { return !known("Control Room"); }, std::chrono::seconds(10)));

    device.configure(R"({"status_service": "answer"})");
    EXPECT_TRUE(QTest::qWaitFor([&] { return known("Control Room"); }, 20000));
}

// Whatever address the watcher's probe is handed, it speaks http only.
TEST(HeadProbe, AnswersOnlyOverHttp) {
    EXPECT_FALSE(kv::portal::deviceAnswers("file:///etc/hostname"));
}

TEST_F(ManagerLab, NoDeviceIsProbedUnlessTheSettingIsOne) {
    announce({{"Booth", "_ravenna", kKorvexTxt, {}}});
    for (const char* settings : {"", "zeroconf_ext=2\n"}) {
        startManager(settings);
        EXPECT_EQ(manager->watcher(), nullptr) << settings;
        ASSERT_TRUE(waitUntil([&] { return known("Booth"); })) << settings;
        // A watcher would have probed at once and again five seconds later.
        std::this_thread::sleep_for(std::chrono::seconds(6));
        EXPECT_EQ(simulators[0]->counter("head_requests"), 0) << settings;
        manager->core()->removeListener(&events);
        manager.reset();
    }
    EXPECT_GT(simulators[0]->counter("status_queries"), 0) << "the device was reachable";
}

} // namespace

int main(int argc, char** argv) {
    environment();
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
