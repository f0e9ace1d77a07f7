// The command-line firmware commands with a real core, a simulated device and a real event
// loop: statuses settle on other threads, as they do in the program, and the quit request has
// to reach the interface thread's loop from there.

#include "DeviceSimulator.h"
#include "ManagerEnvironment.h"
#include "ReleaseServer.h"
#include "StdoutCapture.h"
#include "TempDir.h"
#include "core/Core.h"
#include "ui/commands/CmdFirmwareDownloadUpdate.h"
#include "ui/commands/CmdFirmwareUpdate.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>

namespace {

using namespace kv::portal;
using kv::test::DeviceSimulator;

constexpr const char* kName = "KORVEX-1";
constexpr int kLoopDeadlineMs = 60000;

kv::test::ManagerEnvironment& environment() {
    static kv::test::ManagerEnvironment instance;
    return instance;
}

// Settles a status on a thread of its own, as the core's workers and the sync do.
void settleElsewhere(Core& core, const ProductPtr& product, uint32_t status = Evaluate) {
    std::thread([&core, product, status] { core.setStatus(product, status); }).join();
}

std::string md5Of(const std::string& text) {
    return QCryptographicHash::hash(QByteArray::fromStdString(text), QCryptographicHash::Md5)
        .toHex()
        .toStdString();
}

// Runs the event loop until something quits it; 0 when a command did, 1 at the deadline.
int runLoop() {
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, [] { QCoreApplication::exit(1); });
    deadline.start(kLoopDeadlineMs);
    return QCoreApplication::exec();
}

class Commands : public ::testing::Test {
protected:
    Commands() { environment(); }

    DeviceSimulator::Options deviceOptions() const {
        DeviceSimulator::Options options;
        options.version = "1.0.0b1";
        options.imageFile = lab.file("received.bin");
        return options;
    }

    ProductPtr addDevice(const DeviceSimulator& device, const Version& version) {
        EXPECT_TRUE(core->addProduct(code::KORVEX_FIRMWARE, kName, device.address(), version));
        return core->findProduct(kName);
    }

    std::string firmwarePath(const std::string& file) const {
        return core->downloadsDir() + "/Firmware/" + file;
    }

    // The loop runs from the job's start, as in the program: the command may end it only once
    // the device is back from its reboot with the image and has been evaluated again.
    bool endsOnceTheDeviceIsBack(const ProductPtr& product) {
        return runLoop() == 0 && versionText(product->version.get()) == "2.0.0 b7";
    }

    kv::test::TempDir lab;
    std::unique_ptr<Core> core = std::make_unique<Core>();
};

TEST_F(Commands, FirmwareUpdateInstallsThePackageFromTheFirmwareFolderThenEndsTheProgram) {
    DeviceSimulator device(deviceOptions());
    const ProductPtr korvex = addDevice(device, Version(1, 0, 0, 1));
    DeviceSimulator::makeImage(firmwarePath("fw.bin"), "2.0.0b7", 64 * 1024);
    CmdFirmwareUpdate command(core.get(), kName, "fw.bin");

    settleElsewhere(*core, korvex);
    const auto release = korvex->cloud.get();
    ASSERT_NE(release, nullptr);
    EXPECT_EQ(versionText(release->version), versionText(Version(999, 999, 999, 999)));
    EXPECT_EQ(release->fileName, "fw.bin");
    EXPECT_TRUE(release->md5.empty());
    EXPECT_TRUE(endsOnceTheDeviceIsBack(korvex));
    EXPECT_EQ(korvex->status, ReadyToUpdate);
    EXPECT_EQ(kv::test::readFile(lab.file("received.bin")),
              kv::test::readFile(firmwarePath("fw.bin")));
    EXPECT_EQ(device.counter("uploads_received"), 1);
}

TEST_F(Commands, FirmwareUpdateWaitsForItsOwnProductToSettle) {
    DeviceSimulator device(deviceOptions());
    EXPECT_TRUE(core->addProduct(code::KORVEX_FIRMWARE, "KORVEX-2", device.address(), Version()));
    const ProductPtr other = core->findProduct("KORVEX-2");
    const ProductPtr korvex = addDevice(device, Version(1, 0, 0, 1));
    CmdFirmwareUpdate command(core.get(), kName, "missing.bin");

    settleElsewhere(*core, other);
    settleElsewhere(*core, korvex, Downloading);
    EXPECT_EQ(korvex->cloud.get(), nullptr);
    EXPECT_EQ(other->cloud.get(), nullptr);

    kv::test::StdoutCapture log;
    settleElsewhere(*core, korvex, UpToDate);
    EXPECT_EQ(runLoop(), 0);
    EXPECT_NE(log.text().find("--firmware_update failed: " + firmwarePath("missing.bin") +
                              " does not exist\n"),
              std::string::npos)
        << log.text();
    EXPECT_EQ(device.counter("uploads_started"), 0);
}

TEST_F(Commands, DownloadUpdateWithoutReleaseInformationEndsTheProgram) {
    DeviceSimulator device(deviceOptions());
    const ProductPtr korvex = addDevice(device, Version(1, 0, 0, 1));
    CmdFirmwareDownloadUpdate command(core.get(), kName);

    kv::test::StdoutCapture log;
    settleElsewhere(*core, korvex);
    EXPECT_EQ(korvex->status, NoCloudInformation);
    EXPECT_EQ(runLoop(), 0);
    EXPECT_NE(log.text().find("--firmware_download_update failed: No cloud information\n"),
              std::string::npos)
        << log.text();
}

TEST_F(Commands, DownloadUpdateFetchesAndInstallsTheReleaseOfAnUpToDateDevice) {
    DeviceSimulator device(deviceOptions());
    kv::test::TempDir served;
    DeviceSimulator::makeImage(served.file("korvex-2.0.0.bin"), "2.0.0b7", 80 * 1024);
    kv::test::ReleaseServer server(served.path());

    const ProductPtr korvex = addDevice(device, Version(2, 0, 0, 7));
    auto release = std::make_shared<Product::Cloud>();
    release->version = Version(2, 0, 0, 7);
    release->fileName = "korvex-2.0.0.bin";
    release->link = server.url("/korvex-2.0.0.bin");
    release->md5 = md5Of(kv::test::readFile(served.file("korvex-2.0.0.bin")));
    korvex->cloud.set(release);
    // A stale copy that must not be installed.
    kv::test::writeFile(firmwarePath("korvex-2.0.0.bin"), "stale");
    CmdFirmwareDownloadUpdate command(core.get(), kName);

    settleElsewhere(*core, korvex);
    EXPECT_TRUE(endsOnceTheDeviceIsBack(korvex));
    EXPECT_EQ(korvex->status, UpToDate);
    EXPECT_EQ(kv::test::readFile(firmwarePath("korvex-2.0.0.bin")),
              kv::test::readFile(served.file("korvex-2.0.0.bin")));
    EXPECT_EQ(kv::test::readFile(lab.file("received.bin")),
              kv::test::readFile(served.file("korvex-2.0.0.bin")));
    EXPECT_EQ(device.counter("uploads_received"), 1);
}

} // namespace

int main(int argc, char** argv) {
    environment();
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
