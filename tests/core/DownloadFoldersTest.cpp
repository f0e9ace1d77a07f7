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

// Only the user may look into the folders the program makes.
TEST(DownloadFolders, CoreCreatesRootFirmwareAndSoftwareForTheUserAlone) {
    kv::test::CoreTestEnvironment environment;
    Core core;
    EXPECT_EQ(core.downloadsDir(), environment.downloadsDir());
    for (const char* folder : {"", "/Firmware", "/Software"}) {
        EXPECT_EQ(fs::status(environment.downloadsDir() + folder).permissions() & fs::perms::all,
                  fs::perms::owner_all)
            << folder;
    }
}

TEST(DownloadFolders, FailureIsLoggedAndReported) {
    kv::test::CoreTestEnvironment environment;
    kv::test::writeFile(environment.home() + "/Downloads", "a file where the folder should be");
    kv::test::StdoutCapture capture;
    Core core;
    EXPECT_FALSE(core.createDownloadDirectories());
    EXPECT_NE(capture.text().find("Failed to create required download directories\n"),
              std::string::npos);
}

// Packages older than seven days go, in both folders; one that cannot be removed stays.
TEST(DownloadFolders, SweepRemovesPackagesOlderThanSevenDays) {
    kv::test::CoreTestEnvironment environment;
    Core core;
    const std::string root = environment.downloadsDir();
    fs::create_directory(root + "/Firmware/folder");
    kv::test::writeFile(root + "/Firmware/folder/inside", "x");
    const std::pair<const char*, time_t> ages[] = {{"/Firmware/old.bin", 604801},
                                                   {"/Firmware/week.bin", 604800},
                                                   {"/Firmware/new.bin", 10},
                                                   {"/Software/old.exe", 700000},
                                                   {"/Firmware/folder", 900000}};
    // The boundary case needs the clock not to tick between stamping and sweeping.
    time_t now = 0;
    do {
        now = std::time(nullptr);
        for (const auto& [name, age] : ages) {
            if (!fs::exists(root + name)) {
                kv::test::writeFile(root + name, "x");
            }
            const timeval times[2] = {{now - age, 0}, {now - age, 0}};
            ASSERT_EQ(::utimes((root + name).c_str(), times), 0);
        }
        ASSERT_TRUE(core.createDownloadDirectories());
    } while (std::time(nullptr) != now);
    EXPECT_FALSE(fs::exists(root + "/Firmware/old.bin"));
    EXPECT_TRUE(fs::exists(root + "/Firmware/week.bin"));
    EXPECT_TRUE(fs::exists(root + "/Firmware/new.bin"));
    EXPECT_FALSE(fs::exists(root + "/Software/old.exe"));
    EXPECT_TRUE(fs::exists(root + "/Firmware/folder/inside"));
}
