#include "platform/InstallerStart.h"

#include "ScopedEnv.h"
#include "TempDir.h"
#include "platform/ExecutableSearch.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

using kv::platform::findExecutable;
using kv::test::TempDir;

namespace {

std::string installProgram(const TempDir& dir, const std::string& name, bool executable) {
    const std::string program = dir.file(name);
    std::filesystem::remove(program);
    kv::test::writeFile(program, "#!/bin/sh\n");
    std::filesystem::permissions(program, executable ? std::filesystem::perms::owner_all
                                                     : std::filesystem::perms::owner_read);
    return program;
}

void searchOnly(const std::string& folders) {
    ::setenv("PATH", folders.c_str(), 1);
}

class InstallerStartTest : public ::testing::Test {
    kv::test::ScopedEnv path_{"PATH", std::getenv("PATH")};
};

} // namespace

// A package that is not a Windows program is never executed, whatever its mode bits say.
TEST_F(InstallerStartTest, OnlyAWindowsInstallerStartsAndOnlyThroughAnInstalledWine) {
    const std::string installer = std::string(KV_TEST_PE_DIR) + "/application.exe";
    TempDir dir;
    installProgram(dir, "wine", false);
    searchOnly(dir.path());
    EXPECT_FALSE(kv::platform::installerStart(installer).has_value());
    const std::string wine = installProgram(dir, "wine", true);
    const auto start = kv::platform::installerStart(installer);
    ASSERT_TRUE(start.has_value());
    EXPECT_EQ(wine, start->program);
    EXPECT_EQ(std::vector<std::string>{installer}, start->arguments);
    const std::string script = installProgram(dir, "setup.sh", true);
    EXPECT_FALSE(kv::platform::installerStart(script).has_value());
}

// Empty and relative entries name whatever folder the program runs in: never searched.
TEST_F(InstallerStartTest, FindsTheFirstExecutableOfTheNameInAnAbsoluteFolderOfPath) {
    TempDir first;
    TempDir second;
    const std::string wanted = installProgram(second, "kvtool", true);
    installProgram(first, "kvtool", false);
    searchOnly(first.path() + ":" + second.path());
    EXPECT_EQ(wanted, findExecutable("kvtool"));
    installProgram(first, "kvtool", true);
    EXPECT_EQ(first.file("kvtool"), findExecutable("kvtool"));
    for (const std::string& name :
         {std::string("kv-no-such-program"), std::string(), first.file("kvtool")}) {
        EXPECT_FALSE(findExecutable(name).has_value()) << name;
    }

    std::filesystem::create_directory(first.file("bin"));
    installProgram(first, "bin/kvtool", true);
    const std::filesystem::path saved = std::filesystem::current_path();
    std::filesystem::current_path(first.path());
    for (const char* folders : {"", ":", ".", "bin", "./bin:", "::bin"}) {
        searchOnly(folders);
        EXPECT_FALSE(findExecutable("kvtool").has_value()) << '"' << folders << '"';
    }
    searchOnly("bin:" + first.file("bin"));
    EXPECT_EQ(first.file("bin/kvtool"), findExecutable("kvtool"));
    std::filesystem::current_path(saved);
}
