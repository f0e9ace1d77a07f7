// The device reboots on its own while the program follows its firmware update: what the user is
// told, and that the package, the image the device ends up with and the program's threads
// survive it.

#include "CoreLab.h"
#include "DeviceSimulator.h"
#include "StdoutCapture.h"
#include "TempDir.h"
#include "core/Core.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

using namespace kv::portal;
using kv::test::DeviceSimulator;

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kPackage = "korvex-2.0.0.bin";
constexpr const char* kOldVersion = "1.0.0b1";
constexpr const char* kNewVersion = "2.0.0b7";
constexpr const char* kRequest = "Firmware Update Request";
constexpr const char* kUnavailable = "Firmware Update progress unavailable";

// Each phase is seen by the poller before the next; the device reboots just after it began
// writing the image and is away for longer than one poll. `cut`: how the upload's connection
// ends.
std::string rebootWhileWriting(const std::string& cut) {
    return R"({"lockstep": true, "reboot_updates": 1, "reboot_point": "updating",
               "reboot_after_ms": 200, "reboot_down_ms": 1500, "reboot_cut": ")" +
           cut + R"("})";
}

class DeviceReboot : public kv::test::CoreLab {
protected:
    // A Korvex on the simulated device, its released firmware already in the package folder.
    void start(const std::string& behaviour) {
        DeviceSimulator::Options options;
        options.version = kOldVersion;
        options.behaviour = behaviour;
        options.imageFile = lab_.file("received.bin");
        device_ = std::make_unique<DeviceSimulator>(options);
        ASSERT_TRUE(core_->addProduct(code::KORVEX_FIRMWARE, "Korvex", device_->address(),
                                      Version(1, 0, 0, 1)));
        korvex_ = core_->findProduct("Korvex");
        auto release = std::make_shared<Product::Cloud>();
        ASSERT_TRUE(release->version.parseVersion(kNewVersion));
        release->fileName = kPackage;
        korvex_->cloud.set(release);
        packagePath_ = core_->downloadPath(korvex_, true);
        DeviceSimulator::makeImage(packagePath_, kNewVersion, 96 * 1024);
        package_ = kv::test::readFile(packagePath_);
    }

    // The statuses listeners read on each notice, in order, but those left out.
    std::vector<std::string> statuses(const std::set<std::string>& leftOut = {}) const {
        std::vector<std::string> texts;
        for (const std::string& event : events_.startingWith("status Korvex ")) {
            const std::string text = event.substr(std::string("status Korvex ").size());
            if (leftOut.count(text) == 0) {
                texts.push_back(text);
            }
        }
        return texts;
    }

    static bool waitUntil(const std::function<bool()>& done, std::chrono::seconds timeout) {
        const auto deadline = Clock::now() + timeout;
        while (!done()) {
            if (Clock::now() > deadline) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return true;
    }

    // The lab's view of the device, not the program's; its answers are kept off the console.
    bool waitUntilDeviceIsBack() const {
        const kv::test::StdoutCapture console;
        return waitUntil([this] { return !device_->state()["down"].GetBool(); },
                         std::chrono::seconds(10));
    }

    void expectPackageIntact() const {
        EXPECT_TRUE(kv::test::readFile(packagePath_) == package_)
            << "the downloaded package changed";
    }

    // The device holds the complete image and runs the released version.
    void expectDeviceRunsTheImage() const {
        EXPECT_EQ(device_->version(), kNewVersion);
        EXPECT_TRUE(kv::test::readFile(lab_.file("received.bin")) == package_)
            << "the device's image differs from the package";
    }

    kv::test::TempDir lab_;
    // After the core, so that it goes first and takes any connection the core waits on along.
    std::unique_ptr<DeviceSimulator> device_;
    ProductPtr korvex_;
    std::string packagePath_;
    std::string package_;
};

// The device resets its connections as it goes down: the upload breaks, and the retries that
// follow at once find no one listening. Once it is back, the user's next request succeeds.
TEST_F(DeviceReboot, WhileWritingTheImageFailsTheAttemptsAndTheNextRequestSucceeds) {
    ASSERT_NO_FATAL_FAILURE(start(rebootWhileWriting("reset")));

    core_->requestUpdate(korvex_);
    ASSERT_TRUE(events_.waitForCount("status Korvex Firmware Update Error (7)", 2));
    ASSERT_TRUE(core_->waitUntilIdle(std::chrono::minutes(1)));

    const std::vector<std::string> seen = statuses();
    ASSERT_GE(seen.size(), 2u);
    EXPECT_EQ(seen[0], "Pending Update");
    EXPECT_EQ(seen[1], kRequest);
    // While the device is away, an attempt's request races the poller's finding that nothing
    // answers: a listener reading the status on either notice may find the other.
    const std::vector<std::string> failed = {
        "Pending Update",
        "Firmware Uploading",
        "Firmware Updating",
        "Firmware Update Error (56)",
        "Firmware Update Error (56). Retrying...",
        "Firmware Update Error (7)",
        "Firmware Update Error (7). Retrying...",
        "Firmware Update Error (7)",
    };
    EXPECT_EQ(statuses({kRequest, kUnavailable}), failed);
    EXPECT_FALSE(core_->firmwareUpdateActive());
    EXPECT_EQ(korvex_->status, FirmwareUpdateError);
    EXPECT_EQ(korvex_->errorCode, 7);
    EXPECT_EQ(device_->counter("uploads_received"), 1);
    EXPECT_EQ(device_->counter("reboots"), 1);
    EXPECT_EQ(device_->counter("reboot_commands"), 0);
    EXPECT_EQ(device_->version(), kOldVersion);
    expectPackageIntact();

    ASSERT_TRUE(waitUntilDeviceIsBack());
    events_.clear();
    core_->requestUpdate(korvex_);
    ASSERT_TRUE(events_.waitFor("status Korvex Update To Date"));

    const std::vector<std::string> succeeded = {
        "Pending Update",    "Firmware Update Request", "Firmware Uploading",
        "Firmware Updating", "Device Rebooting",        "Update To Date",
    };
    EXPECT_EQ(statuses(), succeeded);
    EXPECT_EQ(korvex_->errorCode, 0);
    EXPECT_FALSE(core_->firmwareUpdateActive());
    EXPECT_EQ(device_->counter("uploads_received"), 2);
    EXPECT_EQ(device_->counter("reboot_commands"), 1);
    expectDeviceRunsTheImage();
    expectPackageIntact();
    stopCore();
}

// A device that loses power says nothing on the upload's connection, then or when it is back:
// the upload would wait for ever. The poller sees it go away and come back knowing of no
// update, and the attempt is given up; the retry puts the image on the device.
TEST_F(DeviceReboot, WithoutAWordIsNoticedByThePollerAndTheRetryTakesTheImage) {
    ASSERT_NO_FATAL_FAILURE(start(rebootWhileWriting("silent")));

    core_->requestUpdate(korvex_);
    ASSERT_TRUE(events_.waitFor("status Korvex Update To Date", std::chrono::seconds(30)))
        << "last status: " << korvex_->statusText();

    const std::vector<std::string> expected = {
        "Pending Update",
        "Firmware Update Request",
        "Firmware Uploading",
        "Firmware Updating",
        kUnavailable,
        "Firmware Update Error (42)",
        "Firmware Update Error (42). Retrying...",
        "Firmware Update Request",
        "Firmware Uploading",
        "Firmware Updating",
        "Device Rebooting",
        "Update To Date",
    };
    EXPECT_EQ(statuses(), expected);
    EXPECT_EQ(korvex_->errorCode, 0);
    EXPECT_FALSE(core_->firmwareUpdateActive());
    EXPECT_EQ(device_->counter("uploads_received"), 2);
    EXPECT_EQ(device_->counter("reboots"), 2);
    EXPECT_EQ(device_->counter("reboot_commands"), 1);
    expectDeviceRunsTheImage();
    expectPackageIntact();
    stopCore();
}

// The device took the image and rebooted into it before the program's reboot command: the
// update succeeded; the command finds no one, and the device reboots once. Once it answers
// again it shows its new version, whether or not discovery saw it leave.
TEST_F(DeviceReboot, AfterTakingTheImageIsASuccessAndTheDeviceRunsItsNewVersion) {
    ASSERT_NO_FATAL_FAILURE(start(R"({"lockstep": true, "reboot_updates": 1,
                                      "reboot_point": "applied", "reboot_down_ms": 1500})"));

    core_->requestUpdate(korvex_);
    ASSERT_TRUE(events_.waitFor("status Korvex Update To Date"));

    // The ports go down before the upload's answer leaves, so a poll in between may find the
    // device away and say so once.
    std::vector<std::string> seen = statuses();
    const auto away = std::find(seen.begin(), seen.end(), "Firmware Update progress unavailable");
    if (away != seen.end() && away + 1 != seen.end() && *(away + 1) == "Device Rebooting") {
        seen.erase(away);
    }
    const std::vector<std::string> expected = {
        "Pending Update",    "Firmware Update Request", "Firmware Uploading",
        "Firmware Updating", "Device Rebooting",        "Update To Date",
    };
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(versionText(korvex_->version.get()), "2.0.0 b7");
    EXPECT_EQ(korvex_->errorCode, 0);
    EXPECT_FALSE(core_->firmwareUpdateActive());
    EXPECT_EQ(device_->counter("uploads_received"), 1);
    EXPECT_EQ(device_->counter("reboots"), 1);
    EXPECT_EQ(device_->counter("reboot_commands"), 0);
    stopCore();

    ASSERT_TRUE(waitUntilDeviceIsBack());
    expectDeviceRunsTheImage();
    expectPackageIntact();
}

} // namespace
