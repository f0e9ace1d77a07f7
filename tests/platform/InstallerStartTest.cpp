#include "platform/InstallerStart.h"

#include "TempDir.h"
#include "platform/ExecutableSearch.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

using kv::platform::findExecutable;
using kv::platform::installerStart;
using kv::test::TempDir;
using kv::test::writeFile;

namespace {

const std::string kWindowsInstaller = std::string(KV_TEST_PE_DIR) + "/application.exe";

class InstallerStartTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* path = std::getenv("PATH");
        savedPath_ = path != nullptr ? path : "";
    }
    void TearDown() override { ::setenv("PATH", savedPath_.c_str(), 1); }

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
    std::string savedPath_;
};

} // namespace

TEST_F(InstallerStartTest, WindowsInstallerRunsThroughWineWhenWineIsInstalled) {
    TempDir dir;
    const std::string wine = installProgram(dir, "wine", true);
    searchOnly(dir.path());
    const auto start = installerStart(kWindowsInstaller);
    EXPECT_EQ(wine, start.program);
    EXPECT_EQ(std::vector<std::string>{kWindowsInstaller}, start.arguments);
}

TEST_F(InstallerStartTest, InstallersStartThemselvesWhenWineCannotRunThem) {
    TempDir dir;
    installProgram(dir, "wine", false);
    searchOnly(dir.path());
    const auto windows = installerStart(kWindowsInstaller);
    EXPECT_EQ(kWindowsInstaller, windows.program);
    EXPECT_TRUE(windows.arguments.empty());

    installProgram(dir, "wine", true);
    const std::string script = dir.file("setup.sh");
    writeFile(script, "#!/bin/sh\n");
    const auto native = installerStart(script);
    EXPECT_EQ(script, native.program);
    EXPECT_TRUE(native.arguments.empty());
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
