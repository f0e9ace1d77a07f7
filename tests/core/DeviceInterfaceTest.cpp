#include "CoreLab.h"
#include "DeviceSimulator.h"
#include "core/Core.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

using namespace kv::portal;
using kv::test::DeviceSimulator;

namespace {

class DeviceInterface : public kv::test::CoreLab {
protected:
    // Adds a device and waits until its probe has answered.
    bool addProbed(ProductCode code, const std::string& name, const std::string& address,
                   const Version& version = {}) {
        return core_->addProduct(code, name, address, version) && events_.waitFor("probed " + name);
    }

    static DeviceSimulator::Options dualMode(bool danteRunning) {
        DeviceSimulator::Options options;
        options.serial = "KVX-1042";
        options.danteCapable = true;
        options.danteRunning = danteRunning;
        return options;
    }
};

TEST_F(DeviceInterface, NewDeviceGetsItsSerialAndATwinWhoseDanteFirmwareIsNotRunning) {
    DeviceSimulator device(dualMode(false));
    ASSERT_TRUE(
        addProbed(code::KORVEX_FIRMWARE, "Korvex A", device.address(), Version(1, 2, 0, 5)));

    const ProductPtr korvex = core_->findProduct("Korvex A");
    ASSERT_TRUE(korvex);
    EXPECT_EQ(korvex->serial.get(), "KVX-1042");
    const ProductPtr twin = core_->findProduct("dante_Korvex A");
    ASSERT_TRUE(twin);
    EXPECT_EQ(twin, korvex->twin.get());
    EXPECT_EQ(twin->code, code::KORVEX_FIRMWARE_DANTE);
    EXPECT_EQ(twin->address.get(), device.address());
    EXPECT_EQ(twin->serial.get(), "KVX-1042");
    EXPECT_FALSE(twin->version.get() != Version(1, 2, 0, 5));
    EXPECT_TRUE(korvex->running);
    EXPECT_FALSE(twin->running);
    // The twin is reached through its device, never listed or announced on its own.
    EXPECT_EQ(events_.count("added dante_Korvex A"), 0);
}

TEST_F(DeviceInterface, DeviceRunningDanteFirmwareLeavesItsOwnProductNotRunning) {
    DeviceSimulator device(dualMode(true));
    ASSERT_TRUE(addProbed(code::VESK_III_FIRMWARE, "Vesk III", device.address(), {}));

    const ProductPtr vesk = core_->findProduct("Vesk III");
    const ProductPtr twin = core_->findProduct("dante_Vesk III");
    ASSERT_TRUE(vesk && twin);
    EXPECT_EQ(twin->code, code::VESK_III_FIRMWARE_DANTE);
    EXPECT_FALSE(vesk->running);
    EXPECT_TRUE(twin->running);
}

TEST_F(DeviceInterface, EveryDualModeFamilyGetsItsOwnTwinCode) {
    DeviceSimulator device(dualMode(false));
    const std::pair<ProductCode, ProductCode> families[] = {
        {code::KORVEX_FIRMWARE, code::KORVEX_FIRMWARE_DANTE},
        {code::RX48_FIRMWARE, code::RX48_FIRMWARE_DANTE},
        {code::VORAVERI_FIRMWARE, code::VORAVERI_FIRMWARE_DANTE},
        {code::VESK_III_FIRMWARE, code::VESK_III_FIRMWARE_DANTE},
    };
    for (const auto& [deviceCode, twinCode] : families) {
        const std::string name = std::string("device of ") + deviceCode;
        ASSERT_TRUE(addProbed(deviceCode, name, device.address(), {}));
        const ProductPtr twin = core_->findProduct("dante_" + name);
        ASSERT_TRUE(twin) << name;
        EXPECT_EQ(twin->code, twinCode) << name;
    }
}

// Answers that never end, end too late (10 bytes a second, above any stall limit, take about
// 5 s) or pass the size limit count as no answer; a download-only family is never asked about
// Dante. Each such device is listed without a twin.
TEST_F(DeviceInterface, DevicesWithoutATwinKeepRunningTheirOwnFirmware) {
    struct Case {
        ProductCode code;
        bool danteCapable;
        const char* behaviour;
        const char* serial;
        int statusQueries;
    };
    const Case cases[] = {
        {code::VORAVERI_FIRMWARE, false, "{}", "KVX-1042", 2},
        {code::PELRA_FIRMWARE, true, "{}", "KVX-1042", 1},
        {code::RX48_FIRMWARE, true, R"({"status_service": "refuse"})", "", -1},
        {code::KORVEX_FIRMWARE, true, R"({"status_service": "stall"})", "", -1},
        {code::KORVEX_FIRMWARE, true, R"({"status_service": "trickle", "trickle_bytes_per_s": 10})",
         "", -1},
        {code::KORVEX_FIRMWARE, true, R"({"status_service": "oversized"})", "", -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.behaviour);
        DeviceSimulator::Options options = dualMode(true);
        options.danteCapable = c.danteCapable;
        options.behaviour = c.behaviour;
        DeviceSimulator device(options);
        const std::string name = std::string(c.code) + " " + c.behaviour;
        ASSERT_TRUE(addProbed(c.code, name, device.address(), {}));

        const ProductPtr product = core_->findProduct(name);
        ASSERT_TRUE(product);
        EXPECT_EQ(product->serial.get(), c.serial);
        EXPECT_FALSE(product->twin.get());
        EXPECT_FALSE(core_->findProduct("dante_" + name));
        EXPECT_TRUE(product->running);
        if (c.statusQueries >= 0) {
            EXPECT_EQ(device.counter("status_queries"), c.statusQueries);
        }
    }
}

TEST_F(DeviceInterface, DiscoveredServiceIsAskedForItsSerialAndDanteMode) {
    DeviceSimulator device(dualMode(false));
    ASSERT_TRUE(core_->addDevice("Korvex B", device.address(),
                                 {"vendor=Kelmora Technologies", "product=KELMORA+KORVEX",
                                  "version=2.1.0b7", "firmware_generation=2"}));
    ASSERT_TRUE(events_.waitFor("probed Korvex B"));

    const ProductPtr korvex = core_->findProduct("Korvex B");
    ASSERT_TRUE(korvex);
    EXPECT_EQ(korvex->serial.get(), "KVX-1042");
    const ProductPtr twin = core_->findProduct("dante_Korvex B");
    ASSERT_TRUE(twin);
    EXPECT_EQ(twin->version.get().generation, 2u);
    EXPECT_EQ(versionText(twin->version.get()), "2.1.0 b7");
}

TEST_F(DeviceInterface, RemovingFirmwareProductsKeepsApplications) {
    DeviceSimulator device(dualMode(false));
    ASSERT_TRUE(addProbed(code::KORVEX_FIRMWARE, "Korvex C", device.address(), {}));
    ASSERT_TRUE(core_->addProduct(code::VESK_FIRMWARE, "Vesk", "", {}));
    ASSERT_TRUE(core_->addProduct(code::VORNET, "VORNET", "", {}));

    core_->removeFirmwareProducts();

    EXPECT_FALSE(core_->findProduct("Korvex C"));
    EXPECT_FALSE(core_->findProduct("dante_Korvex C"));
    EXPECT_FALSE(core_->findProduct("Vesk"));
    EXPECT_TRUE(core_->findProduct("Korvex Remote Controllers"));
    EXPECT_TRUE(core_->findProduct("VORNET"));
    EXPECT_EQ(events_.count("removed Korvex C"), 1);
    EXPECT_EQ(events_.count("removed Vesk"), 1);
    EXPECT_EQ(events_.count("removed VORNET"), 0);
}

// A device that never answers is listed at once and holds up neither the list nor the answers
// of a device found after it (its own probe ends only with its queries' time limit).
TEST_F(DeviceInterface, SilentDeviceHoldsUpNeitherTheListNorTheTwinOfAnother) {
    DeviceSimulator::Options options = dualMode(false);
    options.behaviour = R"({"status_service": "stall"})";
    DeviceSimulator silent(options);
    DeviceSimulator other(dualMode(true));
    ASSERT_TRUE(core_->addProduct(code::KORVEX_FIRMWARE, "Korvex silent", silent.address(), {}));
    EXPECT_EQ(events_.count("added Korvex silent"), 1);
    ASSERT_TRUE(core_->addProduct(code::VESK_III_FIRMWARE, "Vesk other", other.address(), {}));

    ASSERT_TRUE(events_.waitFor("probed Korvex silent"));
    const std::vector<std::string> events = events_.events();
    const auto at = [&](const std::string& event) {
        return std::find(events.begin(), events.end(), event) - events.begin();
    };
    EXPECT_LT(at("probed Vesk other"), at("probed Korvex silent"));
    EXPECT_TRUE(core_->findProduct("dante_Vesk other"));
    EXPECT_FALSE(core_->findProduct("dante_Korvex silent"));
}

// Answers of 50 bytes a second arrive well after the device has left.
TEST_F(DeviceInterface, DeviceGoneBeforeItsProbeAnswersStaysGone) {
    DeviceSimulator::Options options = dualMode(false);
    options.behaviour = R"({"status_service": "trickle", "trickle_bytes_per_s": 50})";
    DeviceSimulator device(options);
    DeviceSimulator later(dualMode(false));
    ASSERT_TRUE(core_->addProduct(code::KORVEX_FIRMWARE, "Korvex gone", device.address(), {}));
    const ProductPtr korvex = core_->findProduct("Korvex gone");
    core_->removeProduct("Korvex gone");
    // Probes start in the order devices came: once the later one has answered, the first
    // one's probe is under way, and the core finishes it when it goes.
    ASSERT_TRUE(addProbed(code::KORVEX_FIRMWARE, "Korvex later", later.address()));
    core_.reset();
    EXPECT_EQ(device.counter("status_queries"), 3);
    EXPECT_EQ(events_.count("probed Korvex gone"), 0);
    EXPECT_EQ(events_.count("added Korvex gone"), 1);
    EXPECT_FALSE(korvex->twin.get());
    EXPECT_EQ(korvex->serial.get(), "");
}

} // namespace
