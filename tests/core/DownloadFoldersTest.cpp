#include "CoreTestEnvironment.h"
#include "TempDir.h"
#include "core/Core.h"

#include <gtest/gtest.h>
#include <sys/time.h>

#include <ctime>
#include <filesystem>
#include <string>

using namespace kv::portal;
namespace fs = std::filesystem;

// Only the user may look into the folders the program makes. Packages older than seven days
// go, in both package folders; one that cannot be removed stays.
TEST(DownloadFolders, CoreCreatesThemForTheUserAloneAndSweepsOldPackages) {
    kv::test::CoreTestEnvironment environment;
    Core core;
    const std::string root = environment.downloadsDir();
    EXPECT_EQ(core.downloadsDir(), root);
    for (const char* folder : {"", "/Firmware", "/Software"}) {
        EXPECT_EQ(fs::status(root + folder).permissions() & fs::perms::all, fs::perms::owner_all);
    }
    fs::create_directory(root + "/Firmware/folder");
    kv::test::writeFile(root + "/Firmware/folder/inside", "x");
    const std::pair<const char*, time_t> ages[] = {{"/Firmware/old.bin", 604801},
                                                   {"/Firmware/week.bin", 604800},
                                                   {"/Firmware/new.bin", 10},
                                                   {"/Software/old.exe", 700000},
                                                   {"/Firmware/folder", 900000}};
    // The boundary case needs the clock not to tick between stamping and sweeping.
    for (time_t now = 0; now != std::time(nullptr);) {
        now = std::time(nullptr);
        for (const auto& [name, age] : ages) {
            if (!fs::exists(root + name)) {
                kv::test::writeFile(root + name, "x");
            }
            const timeval times[2] = {{now - age, 0}, {now - age, 0}};
            ASSERT_EQ(::utimes((root + name).c_str(), times), 0);
        }
        ASSERT_TRUE(core.createDownloadDirectories());
    }
    EXPECT_FALSE(fs::exists(root + "/Firmware/old.bin"));
    EXPECT_TRUE(fs::exists(root + "/Firmware/week.bin"));
    EXPECT_TRUE(fs::exists(root + "/Firmware/new.bin"));
    EXPECT_FALSE(fs::exists(root + "/Software/old.exe"));
    EXPECT_TRUE(fs::exists(root + "/Firmware/folder/inside"));
}
