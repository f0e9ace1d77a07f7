// The manager against a real avahi-daemon in the lab's network namespace, with simulated devices
// answering HTTP on the addresses their announcements carry.

#include "DeviceSimulator.h"
#include "LabSuite.h"
#include "ManagerEnvironment.h"
#include "RecordingListener.h"
#include "ui/manager/Manager.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using namespace kv::portal;
using kv::test::DeviceSimulator;
using kv::test::Lab;
using ManagerLab = kv::test::LabSuite;

// Each subtype brings its device, with its family's companion and, when it is Dante-capable, its
// twin; a refresh removes the devices at once and finds each again; withdrawn, they leave and
// the applications stay.
TEST_F(ManagerLab, FindsTheDevicesOfEverySubtypeUntilTheyAreWithdrawn) {
    DeviceSimulator::Options dante;
    dante.danteCapable = true;
    const struct {
        const char* name;
        const char* subtype;
        std::vector<std::string> txt;
        DeviceSimulator::Options options;
        ProductCode code;
    } devices[] = {
        {"Studio A",
         "_ravenna",
         {"vendor=Kelmora Technologies", "product=KELMORA+KORVEX", "version=1.2.3b45",
          "firmware_generation=2"},
         dante,
         code::KORVEX_FIRMWARE},
        {"Live Room",
         "_kelmora_dante_zman",
         {"vendor=Trennel", "product=RX 48 Mk2", "version=2.0.1b7"},
         {},
         code::RX48_FIRMWARE},
        {"Machine Room",
         "_kelmora_maintenance",
         {"vendor=Kelmora Technologies", "product=VESK-III", "version=3.1.0b2"},
         {},
         code::VESK_III_FIRMWARE},
    };
    std::vector<std::unique_ptr<DeviceSimulator>> simulators;
    std::vector<Lab::Address> addresses;
    std::vector<Lab::Service> services;
    for (const auto& device : devices) {
        simulators.push_back(std::make_unique<DeviceSimulator>(device.options));
        std::string host = device.name;
        std::replace(host.begin(), host.end(), ' ', '-');
        addresses.push_back({host + ".local", simulators.back()->address()});
        services.push_back(
            {device.name, "_http._tcp", 80, host + ".local", {device.subtype}, device.txt});
    }
    auto announcements = lab->publishMany(addresses, services);
    kv::test::RecordingListener events;
    Manager manager;
    manager.core()->addListener(&events);
    manager.start();
    const auto product = [&](const std::string& name) { return manager.core()->findProduct(name); };
    for (std::size_t i = 0; i < std::size(devices); ++i) {
        ASSERT_TRUE(events.waitFor(std::string("added ") + devices[i].name));
        EXPECT_EQ(product(devices[i].name)->code, devices[i].code);
        EXPECT_EQ(product(devices[i].name)->address.get(), simulators[i]->address());
    }
    EXPECT_EQ(product("Studio A")->serial.get(), "KV0000001");
    EXPECT_EQ(product("Studio A")->twin.get()->code, code::KORVEX_FIRMWARE_DANTE);
    EXPECT_EQ(product("Korvex Remote Controllers")->code, code::KORVEX_REMOTE_CONTROLLER);
    EXPECT_EQ(product("RX48 Toolkit")->code, code::RX48_TOOLKIT_CONTROLLER);
    const ProductPtr portal = product("KVPortal");
    EXPECT_TRUE(portal && product("VORNET") && product("KVDiscovery"));

    manager.refresh();
    for (const auto& device : devices) {
        EXPECT_EQ(events.count(std::string("removed ") + device.name), 1) << device.name;
        EXPECT_TRUE(events.waitForCount(std::string("added ") + device.name, 2)) << device.name;
    }
    EXPECT_EQ(product("KVPortal"), portal) << "the applications stay";

    lab->withdraw(announcements);
    for (const auto& device : devices) {
        EXPECT_TRUE(events.waitForCount(std::string("removed ") + device.name, 2)) << device.name;
        EXPECT_EQ(events.count(std::string("added ") + device.name), 2) << device.name;
    }
    EXPECT_EQ(product("KVPortal"), portal);
    manager.core()->removeListener(&events);
}

} // namespace

int main(int argc, char** argv) {
    static kv::test::ManagerEnvironment environment;
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
