#include "platform/InstallerStart.h"

#include "ScopedEnv.h"
#include "TempDir.h"
#include "platform/ExecutableSearch.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

using kv::platform::findExecutable;
using kv::platform::installerStart;
using kv::test::ScopedEnv;
using kv::test::TempDir;
using kv::test::writeFile;

namespace {

const std::string kWindowsInstaller = std::string(KV_TEST_PE_DIR) + "/application.exe";

class InstallerStartTest : public ::testing::Test {
protected:
    static std::string installProgram(const TempDir& dir, const std::string& name,
                                      bool executable) {
        const std::string program = dir.file(name);
        std::filesystem::remove(program);
        writeFile(program, "#!/bin/sh\n");
        std::filesystem::permissions(program, executable ? std::filesystem::perms::owner_all
                                                         : std::filesystem::perms::owner_read);
        return program;
    }

    static void searchOnly(const std::string& folders) { ::setenv("PATH", folders.c_str(), 1); }

private:
    ScopedEnv path_{"PATH", std::getenv("PATH")};
};

} // namespace

TEST_F(InstallerStartTest, WindowsInstallerRunsThroughWineWhenWineIsInstalled) {
    TempDir dir;
    const std::string wine = installProgram(dir, "wine", true);
    searchOnly(dir.path());
    const auto start = installerStart(kWindowsInstaller);
    ASSERT_TRUE(start.has_value());
    EXPECT_EQ(wine, start->program);
    EXPECT_EQ(std::vector<std::string>{kWindowsInstaller}, start->arguments);
}

// A package that is not a Windows program is never executed, whatever its mode bits say.
TEST_F(InstallerStartTest, NothingStartsButAWindowsInstallerThroughWine) {
    TempDir dir;
    installProgram(dir, "wine", false);
    searchOnly(dir.path());
    EXPECT_FALSE(installerStart(kWindowsInstaller).has_value());

    installProgram(dir, "wine", true);
    const std::string script = installProgram(dir, "setup.sh", true);
    EXPECT_FALSE(installerStart(script).has_value());
}

TEST_F(InstallerStartTest, FindsTheFirstExecutableOfTheNameAlongPath) {
    TempDir first;
    TempDir second;
    const std::string wanted = installProgram(second, "kvtool", true);
    installProgram(first, "kvtool", false);
    searchOnly(first.path() + ":" + second.path());
    EXPECT_EQ(wanted, findExecutable("kvtool"));
    installProgram(first, "kvtool", true);
    EXPECT_EQ(first.file("kvtool"), findExecutable("kvtool"));
    EXPECT_FALSE(findExecutable("kv-no-such-program").has_value());
    EXPECT_FALSE(findExecutable("").has_value());
    EXPECT_FALSE(findExecutable(first.file("kvtool")).has_value());
}

// Empty and relative entries name whatever folder the program runs in.
TEST_F(InstallerStartTest, RelativePathEntriesAreNotSearched) {
    TempDir dir;
    installProgram(dir, "kvtool", true);
    std::filesystem::create_directory(dir.file("bin"));
    installProgram(dir, "bin/kvtool", true);
    const std::filesystem::path saved = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    for (const char* folders : {"", ":", ".", "bin", "./bin:", "::bin"}) {
        searchOnly(folders);
        EXPECT_FALSE(findExecutable("kvtool").has_value()) << '"' << folders << '"';
    }
    searchOnly("bin:" + dir.file("bin"));
    EXPECT_EQ(dir.file("bin/kvtool"), findExecutable("kvtool"));
    std::filesystem::current_path(saved);
}
