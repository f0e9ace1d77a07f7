#include "ScopedEnv.h"
#include "TempDir.h"
#include "platform/DownloadsFolder.h"
#include "platform/ProgramFilesFolder.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

using kv::platform::downloadsFolder;
using kv::platform::programFilesFolder;
using kv::test::ScopedEnv;
using kv::test::TempDir;

namespace {

// Each test sets the variables it needs and finds the others unset.
class FoldersTest : public ::testing::Test {
protected:
    void writeUserDirs(const std::string& configFolder, const std::string& content) {
        std::filesystem::create_directories(configFolder);
        kv::test::writeFile(configFolder + "/user-dirs.dirs", content);
    }

    TempDir home;
    ScopedEnv homeVariable_{"HOME", home.path().c_str()};
    ScopedEnv configHome_{"XDG_CONFIG_HOME", nullptr};
    ScopedEnv winePrefix_{"WINEPREFIX", nullptr};
    ScopedEnv programFiles_{"KVPORTAL_PROGRAM_FILES", nullptr};
};

} // namespace

// user-dirs.dirs as xdg-user-dirs-update writes it, and as a hand may edit it: the last valid
// entry counts, with its escapes; without one, Downloads in the home folder.
TEST_F(FoldersTest, DownloadsFolderComesFromUserDirsOrIsDownloadsInTheHomeFolder) {
    struct Case {
        const char* userDirs;
        const char* downloads; // below the home folder
    } const cases[] = {
        {nullptr, "/Downloads"},
        {"# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
         "XDG_DOWNLOAD_DIR=\"$HOME/Transfers\"\nXDG_MUSIC_DIR=\"$HOME/Music\"\n",
         "/Transfers"},
        {"XDG_DOWNLOAD_DIR=\"$HOME/First\"\nXDG_DOWNLOAD_DIR=\"$HOME/My \\\"Downloads\\\"\"\n"
         "XDG_DOWNLOAD_DIR=\"relative/folder\"\nXDG_DOWNLOAD_DIR=\"$HOMEWARD/folder\"\n"
         "XDG_DOWNLOAD_DIR=$HOME/unquoted\n#XDG_DOWNLOAD_DIR=\"$HOME/Commented\"\n"
         "XDG_DOWNLOAD_DIRS=\"$HOME/OtherKey\"\n",
         "/My \"Downloads\""},
        {"XDG_DOWNLOAD_DIR=\"\"\nXDG_DOWNLOAD_DIR=\"~/Downloads\"\n", "/Downloads"},
        {"XDG_DOWNLOAD_DIR=\"$HOME/\"\n", ""},
    };
    for (const Case& c : cases) {
        std::filesystem::remove_all(home.file(".config"));
        if (c.userDirs != nullptr) {
            writeUserDirs(home.file(".config"), c.userDirs);
        }
        EXPECT_EQ(home.path() + c.downloads, downloadsFolder()) << (c.userDirs ? c.userDirs : "");
    }

    // XDG_CONFIG_HOME names the folder instead, and the entry may be absolute.
    TempDir config;
    ::setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
    writeUserDirs(config.path(), "  XDG_DOWNLOAD_DIR = \"/srv/studio files/\"\n");
    EXPECT_EQ("/srv/studio files", downloadsFolder());
}

// In the default wine prefix, the chosen one, or set outright; without HOME, in the account's.
TEST_F(FoldersTest, ProgramFilesFolderIsInTheWinePrefixOrSetOutright) {
    EXPECT_EQ(home.path() + "/.wine/drive_c/Program Files", programFilesFolder());
    ::setenv("WINEPREFIX", "/opt/wine", 1);
    ::setenv("KVPORTAL_PROGRAM_FILES", "", 1);
    EXPECT_EQ("/opt/wine/drive_c/Program Files", programFilesFolder());
    ::setenv("KVPORTAL_PROGRAM_FILES", "/srv/Program Files", 1);
    EXPECT_EQ("/srv/Program Files", programFilesFolder());
    ::unsetenv("KVPORTAL_PROGRAM_FILES");
    ::unsetenv("WINEPREFIX");
    ::unsetenv("HOME");
    EXPECT_EQ(std::string(::getpwuid(::getuid())->pw_dir) + "/.wine/drive_c/Program Files",
              programFilesFolder());
}
