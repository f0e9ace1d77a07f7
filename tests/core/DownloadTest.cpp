#include "CoreLab.h"
#include "ReleaseServer.h"
#include "StdoutCapture.h"
#include "TempDir.h"
#include "Unavailable.h"
#include "core/download/DownloadQueue.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <string>

using namespace kv::portal;
namespace fs = std::filesystem;

namespace {

constexpr const char* kPackage = "vesk-2.0.0.bin";

// Small file systems go into a mount namespace of the test's own, made before any thread
// starts so that every thread shares it; they vanish with it. Empty, or why it cannot be had.
const std::string kMountProblem =
    ::unshare(CLONE_NEWNS) == 0 && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0
        ? ""
        : std::strerror(errno);

class Download : public kv::test::CoreLab {
protected:
    Download() {
        kv::test::writeFile(served_.file(kPackage), std::string(512 * 1024, 'a'));
        core_->setProxy(std::make_unique<kv::test::InstallerProxy>(installers_));
    }

    // A product whose release is the served `file`, `query` giving the server's behaviour.
    ProductPtr addRelease(ProductCode code, const std::string& name, const std::string& fileName,
                          const std::string& md5 = "", const std::string& query = "",
                          const std::string& file = kPackage) {
        EXPECT_TRUE(core_->addProduct(code, name, "", Version(1, 0, 0, 0)));
        const ProductPtr product = core_->findProduct(name);
        auto release = std::make_shared<Product::Cloud>();
        release->version = Version(2, 0, 0, 0);
        release->fileName = fileName;
        release->md5 = md5;
        product->cloud.set(release);
        serve(product, file + query);
        return product;
    }
    void serve(const ProductPtr& product, const std::string& pathAndQuery) {
        auto release = std::make_shared<Product::Cloud>(*product->cloud.get());
        release->link = server_.url("/" + pathAndQuery);
        product->cloud.set(release);
    }

    // An application whose released installer, downloaded already, runs `script`.
    ProductPtr addInstaller(ProductCode code, const std::string& name, const std::string& script) {
        const ProductPtr product =
            addRelease(code, name, name + "-setup.sh", "", "", name + "-setup.sh");
        if (!script.empty()) {
            kv::test::writeFile(installer(name), script + "\n");
        }
        return product;
    }
    std::string installer(const std::string& name) const {
        return environment_.downloadsDir() + "/Software/" + name + "-setup.sh";
    }
    std::string firmware(const std::string& fileName) const {
        return environment_.downloadsDir() + "/Firmware/" + fileName;
    }
    std::string control(const std::string& what) const {
        return kvcurl::get(server_.url("/control/" + what))->body;
    }
    int requests(const std::string& file = kPackage) const {
        return std::atoi(control("count?path=/" + file).c_str());
    }
    // Returns once the server holds a request at the gate.
    bool heldAt(const std::string& gate) const {
        return kvcurl::get(server_.url("/control/wait/" + gate))->code == 200;
    }

    kv::test::TempDir served_;
    kv::test::ReleaseServer server_{served_.path()};
};

// What an interrupted transfer left without a record of its origin is never used.
TEST_F(Download, VerifiedPackageIsReadyToUpdateAndIsNotHashedAgain) {
    kv::test::writeFile(firmware(kPackage) + ".partial", "stale bytes");
    const ProductPtr vesk = addRelease(code::VESK_FIRMWARE, "Vesk", kPackage,
                                       DownloadQueue::md5File(served_.file(kPackage)));

    core_->requestDownload("Vesk");
    ASSERT_TRUE(events_.waitFor(status("Vesk", "Ready To Update")));

    EXPECT_EQ(events_.startingWith("status Vesk "),
              (std::vector<std::string>{
                  status("Vesk", "Pending Download"), status("Vesk", "Downloading"),
                  status("Vesk", "Verifying file md5"), status("Vesk", "Ready To Update")}));
    EXPECT_EQ(events_.count("downloading Vesk " + std::string(kPackage)), 1);
    EXPECT_TRUE(kv::test::readFile(firmware(kPackage)) ==
                kv::test::readFile(served_.file(kPackage)));
    EXPECT_EQ(vesk->cloud.get()->md5, "OK");
    const fs::directory_iterator folder(environment_.downloadsDir() + "/Firmware");
    EXPECT_EQ(std::distance(begin(folder), end(folder)), 1) << "only the package is left";
    core_->setStatus(vesk, Evaluate);
    EXPECT_EQ(events_.count(status("Vesk", "Verifying file md5")), 1);
}

TEST_F(Download, FailedTransferOrDigestShowsItsError) {
    addRelease(code::VESK_FIRMWARE, "Vesk", kPackage, std::string(32, '0'));
    addRelease(code::VESK_FIRMWARE, "Refused", "refused.bin", "", "?status=404");
    core_->requestDownload("Vesk");
    core_->requestDownload("Refused");
    ASSERT_TRUE(events_.waitFor(status("Vesk", "Download Error (-11)")));
    ASSERT_TRUE(events_.waitFor(status("Refused", "Download Error (22)")));
    ASSERT_TRUE(idle());
    core_->cancel("Refused");
    EXPECT_EQ(core_->findProduct("Refused")->statusText(), "Download Error (22)") << "not queued";
    EXPECT_TRUE(fs::exists(firmware(kPackage)));
    EXPECT_FALSE(fs::exists(firmware("refused.bin")));
    EXPECT_FALSE(fs::exists(firmware("refused.bin.partial")));
    EXPECT_EQ(Core::downloadErrorText(-11), "Cannot verify downloaded file integrity");
    EXPECT_EQ(Core::downloadErrorText(-1), "Unexpected Error");
    EXPECT_EQ(Core::downloadErrorText(22), kvcurl::errorText(22));
}

// A package already there is not fetched again; an update follows unless the family is
// download-only.
TEST_F(Download, PackageAlreadyThereIsNotFetchedAgainAndItsUpdateFollows) {
    const struct {
        ProductCode code;
        const char* name;
        const char* folder;
        int updates;
    } cases[] = {{code::VORNET, "VORNET", "/Software/", 1},
                 {code::PELRA_FIRMWARE, "Pelra", "/Firmware/", 0}};
    for (const auto& c : cases) {
        const ProductPtr product = addRelease(c.code, c.name, kPackage);
        kv::test::writeFile(environment_.downloadsDir() + c.folder + kPackage, "exit 0\n");
        product->updateAfterDownload = true;
        core_->requestDownload(c.name);
        ASSERT_TRUE(idle());
        EXPECT_EQ(events_.count(status(c.name, "Pending Update")), c.updates) << c.name;
        EXPECT_EQ(product->status, ReadyToUpdate) << c.name;
    }
    EXPECT_EQ(requests(), 0);
    EXPECT_EQ(installers_.started(),
              std::vector<std::string>{environment_.downloadsDir() + "/Software/" + kPackage});
}

TEST_F(Download, FileNameThatWouldLeaveThePackageFolderIsRefused) {
    const std::string refused[] = {
        "",        "/tmp/kv-outside.bin", "../outside.bin", "sub/x.bin", "sub\\x.bin", "..", ".",
        "a..b.bin"};
    kv::test::StdoutCapture log;
    for (const std::string& fileName : refused) {
        const std::string name = "Vesk " + std::to_string(&fileName - refused);
        addRelease(code::VESK_FIRMWARE, name, fileName, "");
        core_->requestDownload(name);
        ASSERT_TRUE(events_.waitFor(status(name, "Download Error (-1)"))) << fileName;
        EXPECT_NE(log.text().find("unsafe file name \"" + fileName + "\""), std::string::npos)
            << fileName;
    }
    EXPECT_EQ(requests(), 0);
    EXPECT_FALSE(fs::exists("/tmp/kv-outside.bin"));
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
        kv::test::writeFile(served, std::string(kSize, c.file[0]));
        // A file that changes on the server comes with a new digest the program cannot know of.
        const ProductPtr vesk = addRelease(code::VESK_FIRMWARE, c.file, c.file,
                                           c.servedChanges ? "" : DownloadQueue::md5File(served),
                                           "?close=body", c.file);
        const std::string partial = firmware(std::string(c.file) + ".partial");
        core_->requestDownload(c.file);
        ASSERT_TRUE(events_.waitFor(status(c.file, "Download Error (18)")));
        ASSERT_TRUE(idle());
        ASSERT_EQ(fs::file_size(partial), kSize / 2);
        if (c.servedChanges) {
            kv::test::writeFile(served, std::string(kSize + 1, 'z'));
        }
        if (c.keptBytesSpoilt) {
            std::string kept = kv::test::readFile(partial);
            kept[0] = static_cast<char>(~kept[0]);
            kv::test::writeFile(partial, kept);
        }
        serve(vesk, c.file);
        core_->requestDownload(c.file);
        ASSERT_TRUE(events_.waitFor(status(c.file, "Ready To Update")));

        EXPECT_TRUE(kv::test::readFile(firmware(c.file)) == kv::test::readFile(served));
        EXPECT_FALSE(fs::exists(partial));
        const std::string log = control(std::string("requests?path=/") + c.file);
        const std::regex range(R"("range": (null|"[^"]*"))");
        std::vector<std::string> ranges;
        for (auto it = std::sregex_iterator(log.begin(), log.end(), range);
             it != std::sregex_iterator(); ++it) {
            ranges.push_back((*it)[1]);
        }
        EXPECT_EQ(ranges, c.ranges) << log;
    }
}

// The worker notices at its next progress report, while the server still stalls; a download
// waiting behind never starts.
TEST_F(Download, CancellingTheRunningDownloadOrEndingTheProgramLeavesNothing) {
    for (const std::string name : {"Cancelled", "Ending"}) {
        const ProductPtr product =
            addRelease(code::VESK_FIRMWARE, name, kPackage, "", "?stall=body");
        addRelease(code::VESK_FIRMWARE, name + " behind", "behind.bin", "", "", "behind.bin");
        core_->requestDownload(name);
        core_->requestDownload(name + " behind");
        ASSERT_TRUE(events_.waitFor("received " + name));
        if (name == "Ending") {
            stopCore();
        } else {
            core_->cancel(name);
            core_->cancel(name + " behind");
            ASSERT_TRUE(events_.waitFor(status(name, "Ready To Download")));
            ASSERT_TRUE(idle());
        }
        EXPECT_EQ(product->status, ReadyToDownload);
        EXPECT_EQ(product->errorCode, 0);
        EXPECT_TRUE(fs::is_empty(environment_.downloadsDir() + "/Firmware"));
    }
    EXPECT_EQ(requests("behind.bin"), 0);
    EXPECT_TRUE(events_.startingWith("status Cancelled Download Error").empty());
}

// Each name is queued once and downloads follow one another on one worker, which logs them and
// ends with its queue; a new request starts another. A waiting download that is cancelled never
// starts; cancelling the running one leaves the one behind it queued.
TEST_F(Download, QueuedDownloadsRunInOrderOnceEachAndCancelledOnesNever) {
    kv::test::StdoutCapture log;
    addRelease(code::VESK_FIRMWARE, "First", "first.bin", "", "?gate=g");
    addRelease(code::PELRA_FIRMWARE, "Second", "second.bin");
    addRelease(code::VESK_FIRMWARE, "Third", "third.bin");
    const ProductPtr fourth =
        addRelease(code::VESK_FIRMWARE, "Fourth", "fourth.bin", "", "?gate=h");
    for (const char* name : {"First", "Second", "First", "Second"}) {
        core_->requestDownload(name);
    }
    ASSERT_TRUE(heldAt("g"));
    ASSERT_TRUE(events_.waitFor(status("First", "Downloading")));
    core_->requestDownload("First");
    control("open/g");
    ASSERT_TRUE(events_.waitFor(status("Second", "Ready To Update")));
    ASSERT_TRUE(idle());
    EXPECT_EQ(requests(), 2);
    EXPECT_EQ(events_.count(status("First", "Pending Download")), 1);
    EXPECT_EQ(events_.count(status("Second", "Pending Download")), 1);
    const auto events = events_.events();
    EXPECT_LT(std::find(events.begin(), events.end(), status("First", "Ready To Update")),
              std::find(events.begin(), events.end(), status("Second", "Downloading")));
    const std::string text = log.text();
    EXPECT_LT(text.find("Next in download queue: VESK-FIRMWARE First\n"),
              text.find("Next in download queue: PELRA-FIRMWARE Second\n"));
    EXPECT_LT(text.find("Next in download queue: PELRA-FIRMWARE Second\n"),
              text.find("The download queue is empty. Thread will exit\n"));

    core_->requestDownload("Fourth");
    core_->requestDownload("Third");
    ASSERT_TRUE(heldAt("h"));
    core_->cancel("Fourth");
    ASSERT_TRUE(events_.waitFor(status("Third", "Ready To Update")));
    EXPECT_EQ(fourth->status, ReadyToDownload);
}

// A package that fills the disk fails with the write error and leaves nothing that would count
// as downloaded; the packages already there stay, and with room the download succeeds.
TEST_F(Download, PackageThatFillsTheDiskFailsAndLeavesNothing) {
    if (!kMountProblem.empty()) {
        return kv::test::unavailable("cannot mount a small file system: " + kMountProblem);
    }
    const std::string folder = environment_.downloadsDir() + "/Firmware";
    ASSERT_EQ(::mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=1m,mode=700"), 0)
        << std::strerror(errno);
    const struct Unmount {
        std::string at;
        ~Unmount() { ::umount2(at.c_str(), MNT_DETACH); }
    } unmount{folder};
    kv::test::writeFile(folder + "/pelra-1.0.0.bin", "earlier package");
    kv::test::writeFile(served_.file("large.bin"), std::string(4 << 20, 'l'));
    const ProductPtr vesk =
        addRelease(code::VESK_FIRMWARE, "Vesk", "large.bin", "", "", "large.bin");

    core_->requestDownload("Vesk");
    ASSERT_TRUE(idle());
    EXPECT_EQ(vesk->statusText(), "Download Error (23)");
    EXPECT_EQ(kv::test::readFile(folder + "/pelra-1.0.0.bin"), "earlier package");
    EXPECT_FALSE(fs::exists(folder + "/large.bin.partial"));
    EXPECT_FALSE(core_->isDownloaded(vesk));
    ASSERT_EQ(::mount("tmpfs", folder.c_str(), "tmpfs", MS_REMOUNT, "size=16m"), 0);
    core_->requestDownload("Vesk");
    ASSERT_TRUE(events_.waitFor(status("Vesk", "Ready To Update")));
    EXPECT_TRUE(kv::test::readFile(folder + "/large.bin") ==
                kv::test::readFile(served_.file("large.bin")));
}

TEST_F(Download, ProductThatLeavesDuringItsDownloadGoesWhenTheDownloadEnds) {
    const ProductPtr vesk = addRelease(code::VESK_FIRMWARE, "Vesk", kPackage, "", "?gate=g");

    core_->requestDownload("Vesk");
    ASSERT_TRUE(heldAt("g"));
    core_->removeProduct("Vesk");
    EXPECT_EQ(core_->findProduct("Vesk"), vesk);
    EXPECT_EQ(vesk->presenceCount, 0u);
    EXPECT_EQ(events_.count("removed Vesk"), 0);
    control("open/g");
    ASSERT_TRUE(events_.waitFor("removed Vesk"));
    EXPECT_FALSE(core_->findProduct("Vesk"));
    EXPECT_EQ(vesk->status, ReadyToUpdate);
}

TEST_F(Download, AgreementIsFetchedAndAFolderThatCannotBeMadeQueuesNothing) {
    core_->requestDownload("nobody");
    EXPECT_TRUE(events_.events().empty());
    kv::test::writeFile(served_.file("agreement.html"), "<p>Terms</p>");
    const ProductPtr vesk = addRelease(code::VESK_FIRMWARE, "Vesk", kPackage);
    std::string text;
    EXPECT_FALSE(core_->fetchAgreement(vesk, text, {}));
    auto release = std::make_shared<Product::Cloud>(*vesk->cloud.get());
    release->agreementLink = server_.url("/agreement.html");
    vesk->cloud.set(release);
    EXPECT_TRUE(core_->fetchAgreement(vesk, text, {}));
    EXPECT_EQ(text, "<p>Terms</p>");

    fs::remove_all(environment_.downloadsDir() + "/Firmware");
    kv::test::writeFile(environment_.downloadsDir() + "/Firmware", "a file in the way");
    core_->requestDownload("Vesk");
    EXPECT_EQ(vesk->statusText(), "Download Error (-11)");
    EXPECT_FALSE(core_->isDownloading());
    EXPECT_EQ(requests(), 0);
}

// A cancelled installer (1602) or one that needs a restart (3010) is no error. One that cannot
// start, or whose name would lead out of the package folder, shows -1; the latter never runs.
TEST_F(Download, InstallerExitCodeDecidesTheStatus) {
    kv::test::writeFile(environment_.downloadsDir() + "/outside.sh", "exit 0\n");
    const struct {
        const char* script;
        const char* fileName;
        const char* shown;
        int32_t errorCode;
    } cases[] = {
        {"exit 0", nullptr, "Ready To Update", 0},
        {"echo 1602", nullptr, "Ready To Update", 0},
        {"echo 3010", nullptr, "Ready To Update", 0},
        {"echo 1603", nullptr, "Software Updater Error (1603)", 1603},
        {"exit 3", nullptr, "Software Updater Error (3)", 3},
        {"", nullptr, "Software Updater Error (-1)", -1},
        {"", "../outside.sh", "Software Updater Error (-1)", -1},
    };
    for (const auto& c : cases) {
        const std::string name = "App " + std::to_string(&c - cases);
        const ProductPtr app = addInstaller(code::VORNET, name, c.script);
        if (c.fileName != nullptr) {
            auto release = std::make_shared<Product::Cloud>(*app->cloud.get());
            release->fileName = c.fileName;
            app->cloud.set(release);
        }
        core_->requestUpdate(app);
        ASSERT_TRUE(idle());
        EXPECT_EQ(app->statusText(), c.shown) << name;
        EXPECT_EQ(app->errorCode, c.errorCode) << name;
        const std::vector<std::string> started = installers_.started();
        const int runs = c.fileName == nullptr ? 1 : 0;
        EXPECT_EQ(std::count(started.begin(), started.end(), installer(name)), runs) << name;
        EXPECT_EQ(events_.count(status(name, "Software Updating")), runs) << name;
    }
    EXPECT_EQ(installers_.started().size(), 6u);
}

// A queued update the user cancels never runs. An installer that restarts the computer empties
// both queues, stops the running download, and the jobs dropped leave no pending status.
TEST_F(Download, CancelledOrDroppedJobsNeverRun) {
    kv::test::writeFile(served_.file("Running-setup.sh"), "exit 0\n");
    kv::test::writeFile(served_.file("Waiting-setup.sh"), "exit 0\n");
    // The installer holds until the test has queued more work behind it.
    const std::string go = served_.file("go");
    ASSERT_EQ(::mkfifo(go.c_str(), 0600), 0);
    const ProductPtr restarting =
        addInstaller(code::VORNET, "Restarting", "read line < '" + go + "'; echo 1641");
    const ProductPtr cancelled = addInstaller(code::KVDISCOVERY, "Cancelled", "exit 0");
    const ProductPtr dropped = addInstaller(code::KVDISCOVERY, "Dropped", "exit 0");
    const ProductPtr running = addInstaller(code::KVPORTAL, "Running", "");
    const ProductPtr waiting = addInstaller(code::KORVEX_REMOTE_CONTROLLER, "Waiting", "");
    serve(running, "Running-setup.sh?gate=g");

    core_->requestDownload("Running");
    ASSERT_TRUE(heldAt("g"));
    core_->requestDownload("Waiting");
    core_->requestUpdate(restarting);
    ASSERT_TRUE(events_.waitFor(status("Restarting", "Software Updating")));
    core_->requestUpdate(restarting);
    EXPECT_EQ(restarting->status, SoftwareUpdating) << "a queued product is not queued again";
    core_->requestUpdate(cancelled);
    core_->requestUpdate(dropped);
    core_->cancel("Cancelled");
    EXPECT_EQ(cancelled->status, ReadyToUpdate);
    EXPECT_EQ(dropped->status, PendingUpdate);
    std::ofstream(go) << "go" << std::endl;
    // The running download stops once its queue is emptied; nothing else would end it.
    ASSERT_TRUE(events_.waitFor(status("Running", "Ready To Download")));
    stopCore();

    EXPECT_EQ(installers_.started(), std::vector<std::string>{installer("Restarting")});
    EXPECT_EQ(dropped->status, ReadyToUpdate);
    EXPECT_EQ(running->errorCode, 0);
    EXPECT_EQ(waiting->status, ReadyToDownload);
    EXPECT_EQ(requests("Waiting-setup.sh"), 0);
}

} // namespace
