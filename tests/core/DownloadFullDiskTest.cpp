// The file system of the package folder fills up during a download: what the user is told, and
// that the files already kept there survive and nothing half written is left.

#include "CoreTestEnvironment.h"
#include "ReleaseServer.h"
#include "TempDir.h"
#include "TransferRecorder.h"
#include "Unavailable.h"
#include "core/Core.h"
#include "kvcurl/kvcurl.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

using namespace kv::portal;
namespace fs = std::filesystem;

namespace {

constexpr const char* kPackage = "vesk-2.0.0.bin";
// md5sum of the 4 MiB package below.
constexpr const char* kDigest = "fa8839d5435b3179bd1493981eaa55b6";

// Why the test cannot mount file systems of its own, or empty when it can.
std::string& mountProblem() {
    static std::string problem;
    return problem;
}

std::string filler(size_t size) {
    std::string content(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        content[i] = static_cast<char>(i * 7 + i / 251);
    }
    return content;
}

// The program's folder on a file system of 1 MiB, which the 4 MiB package cannot fit.
class FullDisk : public ::testing::Test {
protected:
    void SetUp() override {
        if (!mountProblem().empty()) {
            return kv::test::unavailable("cannot mount a small file system: " + mountProblem());
        }
        fs::create_directories(folder());
        ASSERT_EQ(::mount("tmpfs", folder().c_str(), "tmpfs", 0, "size=1m"), 0)
            << std::strerror(errno);
        mounted_ = true;
        kv::test::writeFile(served_.file(kPackage), filler(4 * 1024 * 1024));
        core_ = std::make_unique<Core>();
        core_->addListener(&events_);
    }

    void TearDown() override {
        if (core_) {
            core_->removeListener(&events_);
            core_.reset();
        }
        if (mounted_) {
            ::umount2(folder().c_str(), MNT_DETACH);
        }
    }

    std::string folder() const { return environment_.downloadsDir(); }

    ProductPtr addRelease(const std::string& md5) {
        EXPECT_TRUE(core_->addProduct(code::VESK_FIRMWARE, "Vesk", "", Version(1, 0, 0, 0)));
        const ProductPtr product = core_->findProduct("Vesk");
        auto release = std::make_shared<Product::Cloud>();
        release->version = Version(2, 0, 0, 0);
        release->fileName = kPackage;
        release->md5 = md5;
        release->link = server_.url(std::string("/") + kPackage);
        product->cloud.set(release);
        return product;
    }

    kv::test::CoreTestEnvironment environment_;
    kv::test::TempDir served_;
    kv::test::ReleaseServer server_{served_.path()};
    std::unique_ptr<Core> core_;
    kv::test::TransferRecorder events_;
    bool mounted_ = false;
};

TEST_F(FullDisk, DownloadFailsWithAWriteErrorAndLeavesTheKeptFilesAlone) {
    const std::string copy = R"({"products":[]})";
    const std::string earlier = filler(200 * 1024);
    kv::test::writeFile(folder() + "/dozoPublishConf.json", copy);
    kv::test::writeFile(folder() + "/Firmware/pelra-1.0.0.bin", earlier);
    const ProductPtr vesk = addRelease(kDigest);

    core_->requestDownload("Vesk");
    ASSERT_TRUE(events_.waitForStart("status Vesk Download Error ("));

    constexpr int32_t kWriteError = 23;
    EXPECT_EQ(vesk->errorCode, kWriteError);
    EXPECT_EQ(vesk->statusText(), "Download Error (23)");
    EXPECT_EQ(Core::downloadErrorText(kWriteError), kvcurl::errorText(kWriteError));
    EXPECT_EQ(kv::test::readFile(folder() + "/dozoPublishConf.json"), copy);
    EXPECT_EQ(kv::test::readFile(folder() + "/Firmware/pelra-1.0.0.bin"), earlier);
    EXPECT_FALSE(fs::exists(folder() + "/Firmware/" + kPackage));
    EXPECT_FALSE(fs::exists(folder() + "/Firmware/" + std::string(kPackage) + ".partial"));
}

TEST_F(FullDisk, DownloadSucceedsOnceThereIsRoom) {
    const ProductPtr vesk = addRelease(kDigest);
    core_->requestDownload("Vesk");
    ASSERT_TRUE(events_.waitForStart("status Vesk Download Error ("));

    ASSERT_TRUE(core_->waitUntilIdle(std::chrono::minutes(1)));

    ASSERT_EQ(::mount("tmpfs", folder().c_str(), "tmpfs", MS_REMOUNT, "size=16m"), 0)
        << std::strerror(errno);
    core_->requestDownload("Vesk");
    ASSERT_TRUE(events_.waitFor("status Vesk Ready To Update"));
    EXPECT_EQ(kv::test::readFile(folder() + "/Firmware/" + kPackage),
              kv::test::readFile(served_.file(kPackage)));
    EXPECT_EQ(vesk->cloud.get()->md5, "OK");
}

} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // A mount namespace of the program's own, before any thread starts: its small file systems
    // vanish with it, whatever happens to the test.
    if (::unshare(CLONE_NEWNS) != 0 ||
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        mountProblem() = std::strerror(errno);
    }
    return RUN_ALL_TESTS();
}
