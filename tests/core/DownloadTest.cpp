#include "CoreLab.h"
#include "DeviceSimulator.h"
#include "ReleaseServer.h"
#include "StdoutCapture.h"
#include "TempDir.h"
#include "core/Core.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <regex>
#include <string>
#include <thread>

using namespace kv::portal;
namespace fs = std::filesystem;

namespace {

constexpr const char* kPackage = "vesk-2.0.0.bin";

// The digest as an independent tool computes it.
std::string md5sum(const std::string& path) {
    std::string digest;
    if (FILE* pipe = ::popen(("md5sum '" + path + "'").c_str(), "r")) {
        char text[33] = {};
        if (std::fread(text, 1, 32, pipe) == 32) {
            digest = text;
        }
        ::pclose(pipe);
    }
    return digest;
}

std::string filler(size_t size, char seed) {
    std::string content(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        content[i] = static_cast<char>(seed + i * 7 + i / 251);
    }
    return content;
}

class Download : public kv::test::CoreLab {
protected:
    Download() {
        kv::test::writeFile(served_.file(kPackage), filler(512 * 1024, 'a'));
        core_->setProxy(std::make_unique<kv::test::InstallerProxy>(installers_));
    }

    // A product whose release is the served package at `query` (the server's behaviour).
    ProductPtr addRelease(ProductCode code, const std::string& name, const std::string& fileName,
                          const std::string& md5, const std::string& query = "") {
        EXPECT_TRUE(core_->addProduct(code, name, "", Version(1, 0, 0, 0)));
        const ProductPtr product = core_->findProduct(name);
        auto release = std::make_shared<Product::Cloud>();
        release->version = Version(2, 0, 0, 0);
        release->fileName = fileName;
        release->md5 = md5;
        release->link = server_.url(std::string("/") + kPackage + query);
        product->cloud.set(release);
        return product;
    }

    std::string servedMd5() const { return md5sum(served_.file(kPackage)); }
    std::string firmwarePath(const std::string& fileName) const {
        return environment_.downloadsDir() + "/Firmware/" + fileName;
    }
    int requestsForPackage() const {
        const auto reply =
            kvcurl::get(server_.url(std::string("/control/count?path=/") + kPackage));
        return std::atoi(reply->body.c_str());
    }
    // Returns once the server holds a request at the gate.
    bool heldAt(const std::string& gate) const {
        return kvcurl::get(server_.url("/control/wait/" + gate))->code == 200;
    }
    void open(const std::string& gate) const { kvcurl::get(server_.url("/control/open/" + gate)); }

    kv::test::TempDir served_;
    kv::test::ReleaseServer server_{served_.path()};
};

TEST_F(Download, VerifiedPackageIsReadyToUpdateAndIsNotHashedAgain) {
    const ProductPtr vesk = addRelease(code::VESK_FIRMWARE, "Vesk", kPackage, servedMd5());

    core_->requestDownload("Vesk");
    ASSERT_TRUE(events_.waitFor(status("Vesk", "Ready To Update")));

    EXPECT_EQ(events_.startingWith("status Vesk "),
              (std::vector<std::string>{
                  status("Vesk", "Pending Download"), status("Vesk", "Downloading"),
                  status("Vesk", "Verifying file md5"), status("Vesk", "Ready To Update")}));
    EXPECT_EQ(events_.count("downloading Vesk " + std::string(kPackage)), 1);
    EXPECT_EQ(kv::test::readFile(firmwarePath(kPackage)),
              kv::test::readFile(served_.file(kPackage)));
    EXPECT_EQ(vesk->cloud.get()->md5, "OK");
    EXPECT_EQ(fs::directory_iterator(environment_.downloadsDir() + "/Firmware")->path(),
              fs::path(firmwarePath(kPackage)))
        << "only the package is left in its folder";

    core_->setStatus(vesk, Evaluate);
    EXPECT_EQ(events_.count(status("Vesk", "Verifying file md5")), 1);
}

TEST_F(Download, PackageThatDoesNotMatchItsDigestIsAnErrorAndStays) {
    std::string upperCase = servedMd5();
    std::transform(upperCase.begin(), upperCase.end(), upperCase.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    const std::string digests[] = {std::string(32, '0'), upperCase};
    for (const std::string& digest : digests) {
        const std::string name = "Vesk " + digest;
        const ProductPtr vesk = addRelease(code::VESK_FIRMWARE, name, kPackage, digest);

        core_->requestDownload(name);
        ASSERT_TRUE(events_.waitFor(status(name, "Download Error (-11)"))) << digest;
        EXPECT_EQ(vesk->errorCode, -11);
        EXPECT_TRUE(fs::exists(firmwarePath(kPackage)));
        EXPECT_NE(vesk->cloud.get()->md5, "OK");
    }
    EXPECT_EQ(Core::downloadErrorText(-11), "Cannot verify downloaded file integrity");
}

TEST_F(Download, PackageAlreadyThereIsNotFetchedAgainAndItsUpdateFollows) {
    const ProductPtr vornet = addRelease(code::VORNET, "VORNET", kPackage, "");
    kv::test::writeFile(environment_.downloadsDir() + "/Software/" + kPackage, "exit 0\n");
    vornet->updateAfterDownload = true;

    core_->requestDownload("VORNET");
    ASSERT_TRUE(events_.waitFor(status("VORNET", "Software Updating")));
    ASSERT_TRUE(core_->waitUntilIdle(std::chrono::minutes(1)));

    EXPECT_EQ(requestsForPackage(), 0);
    EXPECT_EQ(installers_.started(),
              std::vector<std::string>{environment_.downloadsDir() + "/Software/" + kPackage});
    EXPECT_EQ(events_.count(status("VORNET", "Pending Update")), 1);
}

TEST_F(Download, FileNameThatWouldLeaveThePackageFolderIsRefused) {
    const std::string refused[] = {
        "", "/tmp/kv-outside.bin", "../outside.bin", "sub/x.bin", "sub\\x.bin", "..", "a..b.bin"};
    kv::test::StdoutCapture log;
    int index = 0;
    for (const std::string& fileName : refused) {
        const std::string name = "Vesk " + std::to_string(index++);
        const ProductPtr vesk = addRelease(code::VESK_FIRMWARE, name, fileName, "");

        core_->requestDownload(name);
        ASSERT_TRUE(events_.waitFor(status(name, "Download Error (-1)"))) << fileName;
        EXPECT_NE(log.text().find("unsafe file name \"" + fileName + "\""), std::string::npos)
            << fileName;
    }
    EXPECT_EQ(requestsForPackage(), 0);
    EXPECT_FALSE(fs::exists("/tmp/kv-outside.bin"));
    EXPECT_FALSE(fs::exists(environment_.downloadsDir() + "/outside.bin"));
    EXPECT_EQ(Core::downloadErrorText(-1), "Unexpected Error");
}

TEST_F(Download, RefusedTransferLeavesNeitherPackageNorPartialFile) {
    const ProductPtr vesk = addRelease(code::VESK_FIRMWARE, "Vesk", kPackage, "", "?status=404");

    core_->requestDownload("Vesk");
    ASSERT_TRUE(events_.waitFor(status("Vesk", "Download Error (22)")));
    EXPECT_EQ(vesk->errorCode, 22);
    EXPECT_TRUE(fs::is_empty(environment_.downloadsDir() + "/Firmware"));
    EXPECT_EQ(Core::downloadErrorText(22), kvcurl::errorText(22));
}

// A transfer cut midway keeps what arrived. The next request for the release continues it
// while the server still serves the same file, and starts afresh when it does not; kept bytes
// that spoil the package cost one more download in full.
TEST_F(Download, CutTransferIsContinuedOnlyWhileItsBytesStillFit) {
    constexpr size_t kSize = 512 * 1024;
    const std::string half = "\"bytes=" + std::to_string(kSize / 2) + "-\"";
    const struct {
        const char* file;
        bool servedChanges;
        bool keptBytesSpoilt;
        std::vector<std::string> ranges;
    } cases[] = {
        {"same.bin", false, false, {"null", half}},
        {"changed.bin", true, false, {"null", half}},
        {"spoilt.bin", false, true, {"null", half, "null"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string served = served_.file(c.file);
        kv::test::writeFile(served, filler(kSize, c.file[1]));
        // A file that changes on the server comes with a new digest the program cannot know of.
        const ProductPtr vesk =
            addRelease(code::VESK_FIRMWARE, c.file, c.file, c.servedChanges ? "" : md5sum(served));
        const auto serve = [&](const std::string& query) {
            auto release = std::make_shared<Product::Cloud>(*vesk->cloud.get());
            release->link = server_.url(std::string("/") + c.file + query);
            vesk->cloud.set(release);
        };
        const std::string partial = firmwarePath(std::string(c.file) + ".partial");

        serve("?close=body");
        core_->requestDownload(c.file);
        ASSERT_TRUE(events_.waitFor(status(c.file, "Download Error (18)")));
        ASSERT_TRUE(core_->waitUntilIdle(std::chrono::minutes(1)));
        ASSERT_EQ(fs::file_size(partial), kSize / 2);
        if (c.servedChanges) {
            kv::test::writeFile(served, filler(kSize + 1, 'z'));
        }
        if (c.keptBytesSpoilt) {
            std::string kept = kv::test::readFile(partial);
            kept[0] = static_cast<char>(~kept[0]);
            kv::test::writeFile(partial, kept);
        }
        serve("");
        core_->requestDownload(c.file);
        ASSERT_TRUE(events_.waitFor(status(c.file, "Ready To Update")));

        EXPECT_TRUE(kv::test::readFile(firmwarePath(c.file)) == kv::test::readFile(served));
        EXPECT_FALSE(fs::exists(partial));
        const std::string requests =
            kvcurl::get(server_.url(std::string("/control/requests?path=/") + c.file))->body;
        const std::regex range(R"("range": (null|"[^"]*"))");
        std::vector<std::string> ranges;
        for (auto it = std::sregex_iterator(requests.begin(), requests.end(), range);
             it != std::sregex_iterator(); ++it) {
            ranges.push_back((*it)[1]);
        }
        EXPECT_EQ(ranges, c.ranges) << requests;
    }
}

TEST_F(Download, LeftoverOfAnInterruptedTransferIsNeverUsed) {
    kv::test::writeFile(firmwarePath(std::string(kPackage) + ".partial"), "stale bytes");
    const ProductPtr vesk = addRelease(code::VESK_FIRMWARE, "Vesk", kPackage, "");

    core_->requestDownload("Vesk");
    ASSERT_TRUE(events_.waitFor(status("Vesk", "Ready To Update")));

    EXPECT_EQ(kv::test::readFile(firmwarePath(kPackage)),
              kv::test::readFile(served_.file(kPackage)));
    EXPECT_FALSE(fs::exists(firmwarePath(std::string(kPackage) + ".partial")));
}

TEST_F(Download, DownloadKilledMidwayLeavesNoPackageBehind) {
    addRelease(code::VESK_FIRMWARE, "Vesk", kPackage, "", "?stall=body");

    // A child process takes the download half way and dies there without warning.
    int started[2];
    ASSERT_EQ(::pipe(started), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(started[0]);
        struct Signal : kv::test::TransferRecorder {
            int fd;
            explicit Signal(int out) : fd(out) {}
            void downloadProgress(Core* core, const char* name, const char* file,
                                  const float& fraction) override {
                TransferRecorder::downloadProgress(core, name, file, fraction);
                if (fraction > 0 && ::write(fd, "x", 1) != 1) {
                    ::_exit(2);
                }
            }
        } signal(started[1]);
        core_->addListener(&signal);
        core_->requestDownload("Vesk");
        ::pause();
        ::_exit(1);
    }
    ::close(started[1]);
    char byte = 0;
    const bool halfWay = ::read(started[0], &byte, 1) == 1;
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    ::close(started[0]);
    ASSERT_TRUE(halfWay);

    EXPECT_FALSE(fs::exists(firmwarePath(kPackage)));
    EXPECT_TRUE(fs::exists(firmwarePath(std::string(kPackage) + ".partial")));
    const ProductPtr vesk = core_->findProduct("Vesk");
    core_->setStatus(vesk, Evaluate);
    EXPECT_EQ(vesk->status, ReadyToDownload);

    auto release = std::make_shared<Product::Cloud>(*vesk->cloud.get());
    release->link = server_.url(std::string("/") + kPackage);
    vesk->cloud.set(release);
    core_->requestDownload("Vesk");
    ASSERT_TRUE(events_.waitFor(status("Vesk", "Ready To Update")));
    EXPECT_EQ(kv::test::readFile(firmwarePath(kPackage)),
              kv::test::readFile(served_.file(kPackage)));
}

TEST_F(Download, CancellingTheRunningDownloadRestoresTheEvaluatedStatus) {
    const ProductPtr vesk = addRelease(code::VESK_FIRMWARE, "Vesk", kPackage, "", "?stall=body");

    core_->requestDownload("Vesk");
    ASSERT_TRUE(events_.waitFor("received Vesk"));
    core_->cancel("Vesk");
    // The worker notices at its next progress report, while the server still stalls.
    ASSERT_TRUE(events_.waitFor(status("Vesk", "Ready To Download")));
    ASSERT_TRUE(core_->waitUntilIdle(std::chrono::minutes(1)));

    EXPECT_EQ(vesk->status, ReadyToDownload);
    EXPECT_EQ(vesk->errorCode, 0);
    EXPECT_TRUE(events_.startingWith("status Vesk Download Error").empty());
    EXPECT_TRUE(fs::is_empty(environment_.downloadsDir() + "/Firmware"))
        << fs::directory_iterator(environment_.downloadsDir() + "/Firmware")->path();
}

TEST_F(Download, CancellingAWaitingDownloadTakesItOffTheQueue) {
    addRelease(code::VESK_FIRMWARE, "First", "first.bin", "", "?gate=g");
    const ProductPtr second = addRelease(code::PELRA_FIRMWARE, "Second", "second.bin", "");

    core_->requestDownload("First");
    core_->requestDownload("Second");
    ASSERT_TRUE(heldAt("g"));
    core_->cancel("Second");
    EXPECT_EQ(second->status, ReadyToDownload);
    open("g");
    ASSERT_TRUE(events_.waitFor(status("First", "Ready To Update")));
    ASSERT_TRUE(core_->waitUntilIdle(std::chrono::minutes(1)));

    EXPECT_EQ(requestsForPackage(), 1);
    EXPECT_EQ(events_.count(status("Second", "Downloading")), 0);
    EXPECT_EQ(second->status, ReadyToDownload);
}

TEST_F(Download, QueuedDownloadsRunInOrderOnceEachAndTheWorkerStartsAgainLater) {
    const ProductPtr first = addRelease(code::VESK_FIRMWARE, "First", "first.bin", "", "?gate=g");
    const ProductPtr second = addRelease(code::PELRA_FIRMWARE, "Second", "second.bin", "");

    core_->requestDownload("First");
    core_->requestDownload("Second");
    ASSERT_TRUE(heldAt("g"));
    ASSERT_TRUE(events_.waitFor(status("First", "Downloading")));
    core_->requestDownload("First");
    core_->requestDownload("Second");
    EXPECT_EQ(first->status, Downloading);
    open("g");
    ASSERT_TRUE(events_.waitFor(status("Second", "Ready To Update")));
    ASSERT_TRUE(core_->waitUntilIdle(std::chrono::minutes(1)));

    EXPECT_EQ(requestsForPackage(), 2);
    EXPECT_EQ(events_.count(status("First", "Pending Download")), 1);
    EXPECT_EQ(events_.count(status("Second", "Pending Download")), 1);
    const auto events = events_.events();
    const auto firstReady =
        std::find(events.begin(), events.end(), status("First", "Ready To Update"));
    const auto secondStarted =
        std::find(events.begin(), events.end(), status("Second", "Downloading"));
    EXPECT_LT(firstReady, secondStarted);

    // The worker ended with its queue; a new request starts another.
    const ProductPtr third = addRelease(code::VESK_FIRMWARE, "Third", "third.bin", "");
    core_->requestDownload("Third");
    EXPECT_TRUE(events_.waitFor(status("Third", "Ready To Update")));
}

TEST_F(Download, ProductThatLeavesDuringItsDownloadGoesWhenTheDownloadEnds) {
    const ProductPtr vesk = addRelease(code::VESK_FIRMWARE, "Vesk", kPackage, "", "?gate=g");

    core_->requestDownload("Vesk");
    ASSERT_TRUE(heldAt("g"));
    core_->removeProduct("Vesk");
    EXPECT_EQ(core_->findProduct("Vesk"), vesk);
    EXPECT_EQ(vesk->presenceCount, 0u);
    EXPECT_EQ(events_.count("removed Vesk"), 0);

    open("g");
    ASSERT_TRUE(events_.waitFor("removed Vesk"));
    EXPECT_FALSE(core_->findProduct("Vesk"));
    EXPECT_EQ(vesk->status, ReadyToUpdate);
}

TEST_F(Download, UnknownNameOrAFolderThatCannotBeMadeQueuesNothing) {
    core_->requestDownload("nobody");
    EXPECT_TRUE(events_.events().empty());
    const ProductPtr vesk = addRelease(code::VESK_FIRMWARE, "Vesk", kPackage, "");
    fs::remove_all(environment_.downloadsDir() + "/Firmware");
    kv::test::writeFile(environment_.downloadsDir() + "/Firmware", "a file in the way");

    core_->requestDownload("Vesk");

    EXPECT_EQ(vesk->status, DownloadError);
    EXPECT_EQ(vesk->errorCode, -11);
    EXPECT_FALSE(core_->isDownloading());
    EXPECT_EQ(requestsForPackage(), 0);
}

TEST_F(Download, AgreementTextIsFetchedFromTheRelease) {
    kv::test::writeFile(served_.file("agreement.html"), "<p>Terms</p>");
    const ProductPtr vesk = addRelease(code::VESK_FIRMWARE, "Vesk", kPackage, "");
    std::string text;
    EXPECT_FALSE(core_->fetchAgreement(vesk, text, {}));

    auto release = std::make_shared<Product::Cloud>(*vesk->cloud.get());
    release->agreementLink = server_.url("/agreement.html");
    vesk->cloud.set(release);
    EXPECT_TRUE(core_->fetchAgreement(vesk, text, {}));
    EXPECT_EQ(text, "<p>Terms</p>");
}

TEST_F(Download, DownloadedFirmwareIsUploadedAndTheDeviceRebootsIntoIt) {
    kv::test::TempDir lab;
    kv::test::DeviceSimulator::Options options;
    options.imageFile = lab.file("received.bin");
    kv::test::DeviceSimulator device(options);
    kv::test::DeviceSimulator::makeImage(served_.file(kPackage), "2.0.0b3", 300 * 1024);
    ASSERT_TRUE(core_->addProduct(code::KORVEX_FIRMWARE, "Korvex", device.address(), {}));
    const ProductPtr korvex = core_->findProduct("Korvex");
    auto release = std::make_shared<Product::Cloud>();
    release->version = Version(2, 0, 0, 3);
    release->fileName = "korvex.bin";
    release->md5 = servedMd5();
    release->link = server_.url(std::string("/") + kPackage);
    korvex->cloud.set(release);
    korvex->updateAfterDownload = true;

    core_->requestDownload("Korvex");
    ASSERT_TRUE(events_.waitFor(status("Korvex", "Device Rebooting")));
    ASSERT_TRUE(core_->waitUntilIdle(std::chrono::minutes(1)));

    EXPECT_EQ(kv::test::readFile(lab.file("received.bin")),
              kv::test::readFile(served_.file(kPackage)));
    EXPECT_EQ(device.version(), "2.0.0b3");
    EXPECT_EQ(device.counter("reboot_commands"), 1);
    const auto statuses = events_.startingWith("status Korvex ");
    ASSERT_GE(statuses.size(), 6u);
    EXPECT_EQ(statuses[0], status("Korvex", "Pending Download"));
    EXPECT_EQ(statuses[1], status("Korvex", "Downloading"));
    EXPECT_EQ(statuses[2], status("Korvex", "Verifying file md5"));
    EXPECT_EQ(statuses[3], status("Korvex", "Pending Update"));
    EXPECT_EQ(statuses[4], status("Korvex", "Firmware Update Request"));
}

TEST_F(Download, DownloadOnlyFirmwareIsNotQueuedForUpdateAfterItsDownload) {
    const ProductPtr pelra = addRelease(code::PELRA_FIRMWARE, "Pelra", kPackage, servedMd5());
    pelra->updateAfterDownload = true;

    core_->requestDownload("Pelra");
    ASSERT_TRUE(events_.waitFor(status("Pelra", "Ready To Update")));
    ASSERT_TRUE(core_->waitUntilIdle(std::chrono::minutes(1)));
    EXPECT_EQ(events_.count(status("Pelra", "Pending Update")), 0);
}

} // namespace
