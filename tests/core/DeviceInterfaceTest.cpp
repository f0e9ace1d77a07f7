#include "CoreLab.h"
#include "DeviceSimulator.h"

#include <gtest/gtest.h>

#include <string>

using namespace kv::portal;
using kv::test::DeviceSimulator;

namespace {

class DeviceInterface : public kv::test::CoreLab {
protected:
    static DeviceSimulator::Options dualMode(bool danteRunning, const std::string& behaviour = "") {
        DeviceSimulator::Options options;
        options.serial = "KVX-1042";
        options.danteCapable = true;
        options.danteRunning = danteRunning;
        options.behaviour = behaviour;
        return options;
    }
};

// Each dual-mode family gets a twin of its own code, reached through its device and never
// listed or announced on its own; the twin runs while the device runs its Dante firmware.
// Removing the firmware products keeps the applications.
TEST_F(DeviceInterface, DualModeDeviceGetsItsSerialAndATwin) {
    const struct {
        ProductCode code;
        ProductCode twin;
        bool dante;
    } families[] = {
        {code::KORVEX_FIRMWARE, code::KORVEX_FIRMWARE_DANTE, false},
        {code::RX48_FIRMWARE, code::RX48_FIRMWARE_DANTE, true},
        {code::VORAVERI_FIRMWARE, code::VORAVERI_FIRMWARE_DANTE, false},
        {code::VESK_III_FIRMWARE, code::VESK_III_FIRMWARE_DANTE, true},
    };
    for (const auto& f : families) {
        DeviceSimulator device(dualMode(f.dante));
        const std::string name = f.code;
        ASSERT_TRUE(core_->addProduct(f.code, name, device.address(), Version(1, 2, 0, 5)));
        ASSERT_TRUE(events_.waitFor("probed " + name));
        const ProductPtr product = core_->findProduct(name);
        const ProductPtr twin = core_->findProduct("dante_" + name);
        ASSERT_TRUE(product && twin) << name;
        EXPECT_EQ(twin, product->twin.get());
        EXPECT_EQ(twin->code, f.twin);
        EXPECT_EQ(twin->address.get(), device.address());
        EXPECT_EQ(product->serial.get(), "KVX-1042");
        EXPECT_EQ(twin->serial.get(), "KVX-1042");
        EXPECT_EQ(versionText(twin->version.get()), "1.2.0 b5");
        EXPECT_EQ(product->running, !f.dante);
        EXPECT_EQ(twin->running, f.dante);
        EXPECT_EQ(events_.count("added dante_" + name), 0);
    }
    ASSERT_TRUE(core_->addProduct(code::VESK_FIRMWARE, "Vesk", "", {}));
    ASSERT_TRUE(core_->addProduct(code::VORNET, "VORNET", "", {}));
    core_->removeFirmwareProducts();
    for (const auto& f : families) {
        EXPECT_FALSE(core_->findProduct(f.code));
        EXPECT_EQ(events_.count(std::string("removed ") + f.code), 1);
    }
    EXPECT_EQ(events_.count("removed Vesk"), 1);
    EXPECT_TRUE(core_->findProduct("Korvex Remote Controllers"));
    EXPECT_TRUE(core_->findProduct("VORNET"));
}

// Answers that never end or pass the size limit count as no answer; a download-only family is
// never asked about Dante. Each such device is listed without a twin.
TEST_F(DeviceInterface, DevicesWithoutATwinKeepRunningTheirOwnFirmware) {
    const struct {
        ProductCode code;
        bool danteCapable;
        const char* behaviour;
        const char* serial;
        int statusQueries;
    } cases[] = {
        {code::VORAVERI_FIRMWARE, false, "{}", "KVX-1042", 2},
        {code::PELRA_FIRMWARE, true, "{}", "KVX-1042", 1},
        {code::RX48_FIRMWARE, true, R"({"status_service": "refuse"})", "", -1},
        {code::KORVEX_FIRMWARE, true, R"({"status_service": "stall"})", "", -1},
        {code::KORVEX_FIRMWARE, true, R"({"status_service": "oversized"})", "", -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.behaviour);
        DeviceSimulator::Options options = dualMode(true, c.behaviour);
        options.danteCapable = c.danteCapable;
        DeviceSimulator device(options);
        const std::string name = std::string(c.code) + " " + c.behaviour;
        ASSERT_TRUE(core_->addProduct(c.code, name, device.address(), {}));
        ASSERT_TRUE(events_.waitFor("probed " + name));
        const ProductPtr product = core_->findProduct(name);
        EXPECT_EQ(product->serial.get(), c.serial);
        EXPECT_FALSE(product->twin.get());
        EXPECT_FALSE(core_->findProduct("dante_" + name));
        EXPECT_TRUE(product->running);
        if (c.statusQueries >= 0) {
            EXPECT_EQ(device.counter("status_queries"), c.statusQueries);
        }
    }
}

// Answers of 50 bytes a second arrive well after the device has left. Probes start in the order
// devices came: once the later one has answered, the first one's probe is under way, and the
// core finishes it when it goes.
TEST_F(DeviceInterface, DeviceGoneBeforeItsProbeAnswersStaysGone) {
    DeviceSimulator device(
        dualMode(false, R"({"status_service": "trickle", "trickle_bytes_per_s": 50})"));
    DeviceSimulator later(dualMode(false));
    ASSERT_TRUE(core_->addProduct(code::KORVEX_FIRMWARE, "Korvex gone", device.address(), {}));
    const ProductPtr korvex = core_->findProduct("Korvex gone");
    core_->removeProduct("Korvex gone");
    ASSERT_TRUE(core_->addProduct(code::KORVEX_FIRMWARE, "Korvex later", later.address(), {}));
    ASSERT_TRUE(events_.waitFor("probed Korvex later"));
    stopCore();
    EXPECT_EQ(device.counter("status_queries"), 3);
    EXPECT_EQ(events_.count("probed Korvex gone"), 0);
    EXPECT_FALSE(korvex->twin.get());
    EXPECT_EQ(korvex->serial.get(), "");
}

} // namespace
