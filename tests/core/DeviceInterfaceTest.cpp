#include "CoreTestEnvironment.h"
#include "DeviceSimulator.h"
#include "TransferRecorder.h"
#include "core/Core.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

using namespace kv::portal;
using kv::test::DeviceSimulator;

namespace {

class DeviceInterface : public ::testing::Test {
protected:
    DeviceInterface() { core_->addListener(&events_); }
    ~DeviceInterface() override {
        if (core_) {
            core_->removeListener(&events_);
        }
    }

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

    kv::test::CoreTestEnvironment environment_;
    std::unique_ptr<Core> core_ = std::make_unique<Core>();
    kv::test::TransferRecorder events_;
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

TEST_F(DeviceInterface, DeviceThatCannotRunDanteHasNoTwin) {
    DeviceSimulator::Options options;
    options.serial = "VV-7";
    DeviceSimulator device(options);
    ASSERT_TRUE(addProbed(code::VORAVERI_FIRMWARE, "Voraveri", device.address(), {}));

    const ProductPtr voraveri = core_->findProduct("Voraveri");
    ASSERT_TRUE(voraveri);
    EXPECT_EQ(voraveri->serial.get(), "VV-7");
    EXPECT_FALSE(voraveri->twin.get());
    EXPECT_FALSE(core_->findProduct("dante_Voraveri"));
    EXPECT_TRUE(voraveri->running);
}

TEST_F(DeviceInterface, DownloadOnlyFamilyIsNeverAskedAboutDante) {
    DeviceSimulator device(dualMode(false));
    ASSERT_TRUE(addProbed(code::PELRA_FIRMWARE, "Pelra", device.address(), {}));

    EXPECT_EQ(core_->findProduct("Pelra")->serial.get(), "KVX-1042");
    EXPECT_FALSE(core_->findProduct("dante_Pelra"));
    EXPECT_EQ(device.counter("status_queries"), 1);
}

TEST_F(DeviceInterface, DeviceWithoutStatusServiceIsAddedWithoutSerialOrTwin) {
    DeviceSimulator::Options options = dualMode(true);
    options.behaviour = R"({"status_service": "refuse"})";
    DeviceSimulator device(options);
    ASSERT_TRUE(addProbed(code::RX48_FIRMWARE, "RX 48 Stage", device.address(), {}));

    const ProductPtr rx48 = core_->findProduct("RX 48 Stage");
    ASSERT_TRUE(rx48);
    EXPECT_EQ(rx48->serial.get(), "");
    EXPECT_FALSE(rx48->twin.get());
    EXPECT_TRUE(rx48->running);
    EXPECT_TRUE(events_.waitFor("added RX 48 Stage"));
}

// Answers that never end, end too late (10 bytes a second, above any stall limit, take about
// 5 s) or pass the size limit count as no answer.
TEST_F(DeviceInterface, DeviceThatAnswersNeverTooSlowlyOrTooMuchDoesNotHoldTheProductList) {
    const char* const behaviours[] = {
        R"({"status_service": "stall"})",
        R"({"status_service": "trickle", "trickle_bytes_per_s": 10})",
        R"({"status_service": "oversized"})",
    };
    for (const char* behaviour : behaviours) {
        DeviceSimulator::Options options = dualMode(false);
        options.behaviour = behaviour;
        DeviceSimulator device(options);
        const std::string name = std::string("Korvex ") + behaviour;
        ASSERT_TRUE(addProbed(code::KORVEX_FIRMWARE, name, device.address(), {}));

        const ProductPtr korvex = core_->findProduct(name);
        ASSERT_TRUE(korvex);
        EXPECT_EQ(korvex->serial.get(), "") << behaviour;
        EXPECT_FALSE(korvex->twin.get()) << behaviour;
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
