#include "CoreLab.h"
#include "DeviceSimulator.h"
#include "TempDir.h"
#include "core/Core.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

using namespace kv::portal;
using kv::test::DeviceSimulator;

namespace {

constexpr const char* kPackage = "korvex-2.0.0.bin";
constexpr const char* kImageVersion = "2.0.0b7";

class FirmwareUpdate : public kv::test::CoreLab {
protected:
    DeviceSimulator::Options device(const std::string& behaviour) const {
        DeviceSimulator::Options options;
        options.version = "1.0.0b1";
        options.behaviour = behaviour;
        options.imageFile = lab_.file("received.bin");
        return options;
    }

    // A known device whose released firmware is already downloaded and verified.
    ProductPtr addDeviceWithPackage(const DeviceSimulator& simulator, ProductCode code,
                                    const std::string& name) {
        EXPECT_TRUE(core_->addProduct(code, name, simulator.address(), Version(1, 0, 0, 1)));
        const ProductPtr product = core_->findProduct(name);
        auto release = std::make_shared<Product::Cloud>();
        EXPECT_TRUE(release->version.parseVersion(kImageVersion));
        release->fileName = kPackage;
        product->cloud.set(release);
        DeviceSimulator::makeImage(core_->downloadPath(product, true), kImageVersion, 96 * 1024);
        return product;
    }

    // Updates the device with the program's waits cut to 2 s, until it shows the status.
    bool updateWithShortWaits(const ProductPtr& product, const std::string& shown) {
        ::setenv("KVPORTAL_HTTP_TIMEOUT", "2", 1);
        core_->requestUpdate(product);
        const bool seen = events_.waitFor(status(product->name, shown));
        ::unsetenv("KVPORTAL_HTTP_TIMEOUT");
        return seen;
    }

    // The update history's one line for Korvex, without its time and duration.
    std::string historyOfKorvex(const DeviceSimulator& simulator,
                                const std::string& outcome) const {
        return R"("product":"Korvex","code":"KORVEX-FIRMWARE","address":")" + simulator.address() +
               R"(","from_version":"1.0.0 b1","to_version":"2.0.0 b7",)" + outcome +
               R"(,"duration_ms":)";
    }
    // The update history's whole text.
    std::string historyText() const {
        return kv::test::readFile(core_->downloadsDir() + "/history.jsonl");
    }

    kv::test::TempDir lab_;
};

// Discovery need not see the device leave and come back: once it answers again, it shows what
// it now runs.
TEST_F(FirmwareUpdate, AcceptedImageIsFollowedByOneRebootAndTheDeviceRunsItsVersion) {
    DeviceSimulator simulator(device("{}"));
    const ProductPtr korvex = addDeviceWithPackage(simulator, code::KORVEX_FIRMWARE, "Korvex");

    core_->requestUpdate(korvex);
    ASSERT_TRUE(events_.waitFor(status("Korvex", "Update To Date")));
    ASSERT_TRUE(core_->waitUntilIdle(std::chrono::minutes(1)));

    EXPECT_FALSE(core_->firmwareUpdateActive());
    const std::string history = historyText();
    EXPECT_EQ(std::count(history.begin(), history.end(), '\n'), 1);
    EXPECT_NE(history.find(historyOfKorvex(simulator, R"("result":"succeeded","error_code":0)")),
              std::string::npos)
        << history;
    EXPECT_EQ(versionText(korvex->version.get()), "2.0.0 b7");
    EXPECT_EQ(korvex->errorCode, 0);
    EXPECT_EQ(simulator.counter("uploads_started"), 1);
    EXPECT_EQ(simulator.counter("reboot_commands"), 1);
    EXPECT_EQ(simulator.version(), kImageVersion);
    EXPECT_EQ(kv::test::readFile(lab_.file("received.bin")),
              kv::test::readFile(core_->downloadPath(korvex, true)));
    const auto state = simulator.state();
    const auto& upload = state["last_upload"];
    EXPECT_STREQ(upload["part_name"].GetString(), "firmware.bin");
    EXPECT_STREQ(upload["file_name"].GetString(), kPackage);
    EXPECT_FALSE(upload["authorization"].GetBool());
    EXPECT_TRUE(upload["expect"].IsNull());

    const auto statuses = events_.startingWith("status Korvex ");
    ASSERT_GE(statuses.size(), 3u);
    EXPECT_EQ(statuses.front(), status("Korvex", "Pending Update"));
    EXPECT_EQ(statuses[1], status("Korvex", "Firmware Update Request"));
    EXPECT_EQ(statuses[statuses.size() - 2], status("Korvex", "Device Rebooting"));
    EXPECT_EQ(statuses.back(), status("Korvex", "Update To Date"));
    // The finished state ends the poll without a last report to listeners.
    for (const std::string& progress : events_.startingWith("progress Korvex ")) {
        EXPECT_NE(progress.rfind("progress Korvex 4 ", 0), 0u) << progress;
    }
}

TEST_F(FirmwareUpdate, PhasesReportedByTheStatusServiceReachTheProductAndListeners) {
    DeviceSimulator simulator(device(R"({"lockstep": true, "resize_partitions": true})"));
    const ProductPtr vesk = addDeviceWithPackage(simulator, code::VESK_III_FIRMWARE, "Vesk III");

    core_->requestUpdate(vesk);
    ASSERT_TRUE(events_.waitFor(status("Vesk III", "Device Rebooting")));

    EXPECT_EQ(events_.count(status("Vesk III", "Firmware Uploading")), 1);
    EXPECT_EQ(events_.count(status("Vesk III", "Firmware Updating")), 1);
    EXPECT_EQ(events_.count(status("Vesk III", "Resizing partitions")), 1);
    EXPECT_EQ(events_.count("progress Vesk III 2 40 Writing firmware"), 1);
    EXPECT_EQ(events_.count("progress Vesk III 5 50 Resizing partitions"), 1);
    EXPECT_EQ(events_.count(status("Vesk III", "Firmware Update progress unavailable")), 0);
    EXPECT_EQ(simulator.counter("state_requests"), 0);
}

TEST_F(FirmwareUpdate, DeviceAnsweringOnlyOnItsCommandPortIsFollowedThere) {
    DeviceSimulator simulator(
        device(R"({"lockstep": true, "status_service": "refuse", "report_text": false})"));
    const ProductPtr rx48 = addDeviceWithPackage(simulator, code::RX48_FIRMWARE, "RX 48");

    core_->requestUpdate(rx48);
    ASSERT_TRUE(events_.waitFor(status("RX 48", "Device Rebooting")));

    EXPECT_EQ(events_.count(status("RX 48", "Firmware Updating")), 1);
    EXPECT_GE(events_.count("progress RX 48 2 40 (no text)"), 1);
    EXPECT_EQ(events_.count(status("RX 48", "Firmware Update progress unavailable")), 0);
    EXPECT_GT(simulator.counter("state_requests"), 0);
}

TEST_F(FirmwareUpdate, FailedAttemptsAreRetriedUntilTheDeviceTakesTheImage) {
    DeviceSimulator simulator(device(R"({"fail_uploads": 2})"));
    const ProductPtr korvex = addDeviceWithPackage(simulator, code::KORVEX_FIRMWARE, "Korvex");

    core_->requestUpdate(korvex);
    ASSERT_TRUE(events_.waitFor(status("Korvex", "Device Rebooting")));
    core_.reset();

    EXPECT_EQ(events_.count(status("Korvex", "Firmware Update Error (-1)")), 2);
    EXPECT_EQ(events_.count(status("Korvex", "Firmware Update Error (-1). Retrying...")), 2);
    EXPECT_EQ(events_.count(status("Korvex", "Firmware Update Request")), 3);
    EXPECT_EQ(simulator.counter("uploads_received"), 3);
    EXPECT_EQ(simulator.counter("reboot_commands"), 1);
    EXPECT_EQ(simulator.version(), kImageVersion);
    EXPECT_EQ(korvex->errorCode, 0);
}

// Refused uploads give the device's -1; a device that never reports a state, or answers on
// neither service (shown once per attempt), gives -2. Three attempts each, then the error.
TEST_F(FirmwareUpdate, ThreeFailedAttemptsLeaveTheirErrorAndNoReboot) {
    struct Case {
        const char* name;
        const char* behaviour;
        int32_t errorCode;
        int unavailable;
    };
    const Case cases[] = {
        {"Korvex", R"({"fail_uploads": 3})", -1, 0},
        {"Korvex silent", R"({"report_state": false})", -2, 0},
        {"Korvex away", R"({"status_service": "refuse", "state_request": "refuse"})", -2, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.behaviour);
        DeviceSimulator simulator(device(c.behaviour));
        const ProductPtr korvex = addDeviceWithPackage(simulator, code::KORVEX_FIRMWARE, c.name);
        const std::string error = "Firmware Update Error (" + std::to_string(c.errorCode) + ")";

        core_->requestUpdate(korvex);
        ASSERT_TRUE(events_.waitForCount(status(c.name, error), 3));
        ASSERT_TRUE(core_->waitUntilIdle(std::chrono::minutes(1)));

        EXPECT_FALSE(core_->firmwareUpdateActive());
        EXPECT_EQ(korvex->status, FirmwareUpdateError);
        EXPECT_EQ(korvex->errorCode, c.errorCode);
        EXPECT_EQ(events_.count(status(c.name, error + ". Retrying...")), 2);
        EXPECT_EQ(events_.count(status(c.name, "Firmware Update progress unavailable")),
                  c.unavailable);
        EXPECT_EQ(simulator.counter("uploads_received"), 3);
        EXPECT_EQ(simulator.counter("reboot_commands"), 0);
        EXPECT_EQ(simulator.version(), "1.0.0b1");
        if (korvex->name == "Korvex") {
            const std::string history = historyText();
            EXPECT_EQ(std::count(history.begin(), history.end(), '\n'), 1);
            EXPECT_NE(
                history.find(historyOfKorvex(simulator, R"("result":"failed","error_code":-1)")),
                std::string::npos)
                << history;
        }
    }
}

TEST_F(FirmwareUpdate, SilentDeviceIsAskedAboutOncePerSecondNotBackToBack) {
    DeviceSimulator simulator(device(R"({"status_service": "refuse", "state_request": "refuse",
                                         "upload_delay_ms": 2500, "report_state": false})"));
    const ProductPtr korvex = addDeviceWithPackage(simulator, code::KORVEX_FIRMWARE, "Korvex");

    core_->requestUpdate(korvex);
    ASSERT_TRUE(events_.waitFor(status("Korvex", "Firmware Update Error (-2)")));

    // About three in the two and a half seconds the device took; back to back, thousands.
    EXPECT_GE(simulator.counter("refused_state_requests"), 1);
    EXPECT_LT(simulator.counter("refused_state_requests"), 20);
}

TEST_F(FirmwareUpdate, UploadCutOffMidwayIsRetriedAndShowsTheTransferError) {
    DeviceSimulator simulator(device(R"({"drop_uploads": 1})"));
    const ProductPtr korvex = addDeviceWithPackage(simulator, code::KORVEX_FIRMWARE, "Korvex");

    core_->requestUpdate(korvex);
    ASSERT_TRUE(events_.waitFor(status("Korvex", "Device Rebooting")));
    core_.reset();

    const auto retrying = events_.startingWith("status Korvex Firmware Update Error (");
    ASSERT_EQ(retrying.size(), 2u);
    // libcurl's code for the broken transfer, whichever of send or receive noticed it.
    EXPECT_TRUE(retrying[0] == status("Korvex", "Firmware Update Error (55)") ||
                retrying[0] == status("Korvex", "Firmware Update Error (56)"))
        << retrying[0];
    EXPECT_EQ(retrying[1], retrying[0] + ". Retrying...");
    EXPECT_EQ(simulator.counter("uploads_dropped"), 1);
    EXPECT_EQ(simulator.counter("reboot_commands"), 1);
    EXPECT_EQ(kv::test::readFile(lab_.file("received.bin")),
              kv::test::readFile(environment_.downloadsDir() + "/Firmware/" + kPackage));
}

TEST_F(FirmwareUpdate, DeviceThatNeverAnswersTheRebootCommandDoesNotHoldTheUpdateWorker) {
    DeviceSimulator simulator(device(R"({"commands": "stall"})"));
    const ProductPtr korvex = addDeviceWithPackage(simulator, code::KORVEX_FIRMWARE, "Korvex");

    // The device never leaves: its watch gives up soon and shows it as it is.
    ::setenv("KVPORTAL_HTTP_TIMEOUT", "2", 1);
    core_->requestUpdate(korvex);
    ASSERT_TRUE(events_.waitFor(status("Korvex", "Device Rebooting")));
    EXPECT_TRUE(core_->waitUntilIdle(std::chrono::minutes(1)));
    ::unsetenv("KVPORTAL_HTTP_TIMEOUT");
    EXPECT_FALSE(core_->firmwareUpdateActive());
    EXPECT_EQ(korvex->status, ReadyToUpdate);
}

// The device shows its failure for less than the poller's pause and then answers the upload:
// asked once more, it still says so, and the image is sent again instead of a reboot.
TEST_F(FirmwareUpdate, FailureShownBetweenTwoPollsIsNotTakenForSuccess) {
    DeviceSimulator simulator(
        device(R"({"lockstep": true, "fail_uploads": 1, "failure_shown_ms": 300})"));
    const ProductPtr korvex = addDeviceWithPackage(simulator, code::KORVEX_FIRMWARE, "Korvex");

    core_->requestUpdate(korvex);
    ASSERT_TRUE(events_.waitFor(status("Korvex", "Device Rebooting")));
    core_.reset();

    EXPECT_EQ(events_.count(status("Korvex", "Firmware Update Error (-1)")), 1);
    EXPECT_EQ(simulator.counter("uploads_received"), 2);
    EXPECT_EQ(simulator.counter("reboot_commands"), 1);
    EXPECT_EQ(simulator.version(), kImageVersion);
}

// Writing its flash, the device misses polls on both services and then answers without a
// state for a moment: that is no restart, and the one upload goes on to its answer.
TEST_F(FirmwareUpdate, DeviceMissingPollsWhileWritingKeepsItsOneUpload) {
    DeviceSimulator simulator(device(R"({"lockstep": true, "busy_ms": 2500, "blank_ms": 1500})"));
    const ProductPtr korvex = addDeviceWithPackage(simulator, code::KORVEX_FIRMWARE, "Korvex");

    core_->requestUpdate(korvex);
    ASSERT_TRUE(events_.waitFor(status("Korvex", "Device Rebooting")));
    core_.reset();

    EXPECT_TRUE(events_.startingWith("status Korvex Firmware Update Error").empty());
    EXPECT_EQ(simulator.counter("uploads_started"), 1);
    EXPECT_EQ(simulator.counter("reboot_commands"), 1);
    EXPECT_EQ(simulator.version(), kImageVersion);
}

// The device reported the end of its update and never answered the upload (it lost power):
// the wait for the answer is bounded, and the retry takes the image.
TEST_F(FirmwareUpdate, DeviceSilentAfterReportingTheEndIsGivenUpAfterABoundedWait) {
    DeviceSimulator simulator(device(R"({"stall_finished_uploads": 1})"));
    const ProductPtr korvex = addDeviceWithPackage(simulator, code::KORVEX_FIRMWARE, "Korvex");
    ASSERT_TRUE(updateWithShortWaits(korvex, "Device Rebooting"));
    core_.reset();

    EXPECT_EQ(events_.count(status("Korvex", "Firmware Update Error (42)")), 1);
    EXPECT_EQ(simulator.counter("uploads_received"), 2);
    EXPECT_EQ(simulator.counter("reboot_commands"), 1);
}

// A device that does not come back from its reboot is not shown rebooting for ever.
TEST_F(FirmwareUpdate, DeviceThatStaysAwayAfterItsRebootIsShownAsItWas) {
    DeviceSimulator simulator(device(R"({"reboot_down_ms": 600000})"));
    const ProductPtr korvex = addDeviceWithPackage(simulator, code::KORVEX_FIRMWARE, "Korvex");
    ASSERT_TRUE(updateWithShortWaits(korvex, "Ready To Update"));

    const auto statuses = events_.startingWith("status Korvex ");
    ASSERT_GE(statuses.size(), 2u);
    EXPECT_EQ(statuses[statuses.size() - 2], status("Korvex", "Device Rebooting"));
    EXPECT_EQ(versionText(korvex->version.get()), "1.0.0 b1");
    EXPECT_NE(
        historyText().find(historyOfKorvex(simulator, R"("result":"failed","error_code":-4)")),
        std::string::npos)
        << historyText();
}

// The image was taken and the reboot asked, yet the device came back with its old firmware.
TEST_F(FirmwareUpdate, DeviceBackWithItsOldVersionIsRecordedAsFailed) {
    DeviceSimulator simulator(device(R"({"reject_images": 1})"));
    const ProductPtr korvex = addDeviceWithPackage(simulator, code::KORVEX_FIRMWARE, "Korvex");

    core_->requestUpdate(korvex);
    ASSERT_TRUE(events_.waitFor(status("Korvex", "Ready To Update")));

    const std::string history = historyText();
    EXPECT_EQ(std::count(history.begin(), history.end(), '\n'), 1);
    EXPECT_NE(history.find(historyOfKorvex(simulator, R"("result":"failed","error_code":-3)")),
              std::string::npos)
        << history;
    EXPECT_EQ(simulator.counter("reboot_commands"), 1);
}

// A device that leaves while rebooting is still awaited for its update's record, but the
// product that left is settled no more: discovery adds the device anew when it is back.
TEST_F(FirmwareUpdate, DeviceThatLeavesWhileRebootingKeepsItsStatus) {
    DeviceSimulator simulator(device(R"({"reboot_down_ms": 600000})"));
    const ProductPtr korvex = addDeviceWithPackage(simulator, code::KORVEX_FIRMWARE, "Korvex");

    // The waits stay short until the update's record is written, which ends the watch.
    ::setenv("KVPORTAL_HTTP_TIMEOUT", "2", 1);
    core_->requestUpdate(korvex);
    ASSERT_TRUE(events_.waitFor(status("Korvex", "Device Rebooting")));
    core_->removeDevice("Korvex");
    const bool idle = core_->waitUntilIdle(std::chrono::minutes(1));
    ::unsetenv("KVPORTAL_HTTP_TIMEOUT");
    ASSERT_TRUE(idle);

    EXPECT_EQ(events_.events().back(), "removed Korvex");
    EXPECT_EQ(korvex->status, DeviceRebooting);
    EXPECT_NE(
        historyText().find(historyOfKorvex(simulator, R"("result":"failed","error_code":-4)")),
        std::string::npos)
        << historyText();
}

// An update request that leads to no upload settles its status: nothing is queued that would.
TEST_F(FirmwareUpdate, RequestThatUploadsNothingLeavesNoPendingStatus) {
    DeviceSimulator simulator(device("{}"));
    const ProductPtr vesk = addDeviceWithPackage(simulator, code::VESK_FIRMWARE, "Vesk");
    const ProductPtr korvex = addDeviceWithPackage(simulator, code::KORVEX_FIRMWARE, "Korvex");
    korvex->version.set(korvex->cloud.get()->version);

    core_->requestUpdate(vesk);
    core_->requestUpdate(korvex);
    ASSERT_TRUE(core_->waitUntilIdle(std::chrono::minutes(1)));
    core_.reset();

    EXPECT_EQ(vesk->status, ReadyToUpdate);
    EXPECT_EQ(korvex->status, UpToDate);
    EXPECT_EQ(simulator.counter("uploads_started"), 0);
    EXPECT_EQ(simulator.counter("reboot_commands"), 0);
}

} // namespace
