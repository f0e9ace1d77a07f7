#include "CoreTestEnvironment.h"
#include "StdoutCapture.h"
#include "TempDir.h"
#include "core/Core.h"

#include <gtest/gtest.h>
#include <sys/time.h>

#include <ctime>
#include <filesystem>
#include <string>

using namespace kv::portal;
namespace fs = std::filesystem;

namespace {

void setAge(const std::string& path, time_t now, time_t seconds) {
    const timeval times[2] = {{now - seconds, 0}, {now - seconds, 0}};
    ASSERT_EQ(0, ::utimes(path.c_str(), times));
}

} // namespace

// Only the user may look into the folders the program makes; the Downloads folder is the user's.
TEST(DownloadFolders, CoreCreatesRootFirmwareAndSoftwareForTheUserAlone) {
    kv::test::CoreTestEnvironment environment;
    Core core;
    EXPECT_EQ(environment.downloadsDir(), core.downloadsDir());
    for (const char* folder : {"", "/Firmware", "/Software"}) {
        EXPECT_TRUE(fs::is_directory(environment.downloadsDir() + folder)) << folder;
        EXPECT_EQ(fs::perms::owner_all,
                  fs::status(environment.downloadsDir() + folder).permissions() & fs::perms::all)
            << folder;
    }
}

TEST(DownloadFolders, FollowsTheDesktopsDownloadFolder) {
    kv::test::CoreTestEnvironment environment;
    kv::test::TempDir config;
    ::setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
    kv::test::writeFile(config.file("user-dirs.dirs"), "XDG_DOWNLOAD_DIR=\"$HOME/Fetched\"\n");
    Core core;
    ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(environment.home() + "/Fetched/KV", core.downloadsDir());
    EXPECT_TRUE(fs::is_directory(environment.home() + "/Fetched/KV/Firmware"));
}

TEST(DownloadFolders, FailureIsLoggedAndReported) {
    kv::test::CoreTestEnvironment environment;
    kv::test::writeFile(environment.home() + "/Downloads", "a file where the folder should be");
    kv::test::StdoutCapture capture;
    Core core;
    EXPECT_FALSE(core.createDownloadDirectories());
    EXPECT_NE(std::string::npos,
              capture.text().find("Failed to create required download directories\n"));
}

TEST(DownloadFolders, SweepRemovesPackagesOlderThanSevenDays) {
    kv::test::CoreTestEnvironment environment;
    Core core;
    const std::string firmware = environment.downloadsDir() + "/Firmware/";
    const std::string software = environment.downloadsDir() + "/Software/";
    // The boundary case needs the clock not to tick between stamping and sweeping.
    for (int attempt = 0; attempt < 5; ++attempt) {
        for (const char* name : {"old.bin", "week.bin", "new.bin"}) {
            kv::test::writeFile(firmware + name, "x");
        }
        kv::test::writeFile(software + "old.exe", "x");
        const time_t now = std::time(nullptr);
        setAge(firmware + "old.bin", now, 604801);
        setAge(firmware + "week.bin", now, 604800);
        setAge(firmware + "new.bin", now, 10);
        setAge(software + "old.exe", now, 700000);
        ASSERT_TRUE(core.createDownloadDirectories());
        if (std::time(nullptr) != now) {
            continue;
        }
        EXPECT_FALSE(fs::exists(firmware + "old.bin"));
        EXPECT_TRUE(fs::exists(firmware + "week.bin"));
        EXPECT_TRUE(fs::exists(firmware + "new.bin"));
        EXPECT_FALSE(fs::exists(software + "old.exe"));
        return;
    }
    GTEST_FAIL() << "the clock ticked during every attempt";
}

TEST(DownloadFolders, SweepSurvivesEntriesItCannotRemove) {
    kv::test::CoreTestEnvironment environment;
    Core core;
    const std::string firmware = environment.downloadsDir() + "/Firmware/";
    fs::create_directory(firmware + "folder");
    kv::test::writeFile(firmware + "folder/inside", "x");
    kv::test::writeFile(firmware + "old.bin", "x");
    const time_t now = std::time(nullptr);
    setAge(firmware + "folder", now, 900000);
    setAge(firmware + "old.bin", now, 900000);
    EXPECT_TRUE(core.createDownloadDirectories());
    EXPECT_TRUE(fs::exists(firmware + "folder/inside"));
    EXPECT_FALSE(fs::exists(firmware + "old.bin"));
}
