#include "ui/QtProxy.h"

#include "StdoutCapture.h"
#include "TempDir.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>

using kv::portal::QtProxy;
using kv::test::readFile;
using kv::test::StdoutCapture;
using kv::test::TempDir;
using kv::test::writeFile;

namespace {

// QSettings reads the XDG variables once per process: they are set before the first proxy.
struct SettingsFolders {
    SettingsFolders() {
        ::setenv("XDG_CONFIG_HOME", root.file("user").c_str(), 1);
        ::setenv("XDG_CONFIG_DIRS", (root.file("site") + ":" + root.file("vendor")).c_str(), 1);
    }
    TempDir root;
};

const TempDir& settingsRoot() {
    static const SettingsFolders folders;
    return folders.root;
}

// Each write gets a modification time of its own, so that a rewrite of the same size within
// the same instant still reads as changed.
void writeSettings(const std::string& scope, const std::string& lines) {
    static long long stamp = 1600000000;
    const std::string path = settingsRoot().file(scope) + "/Kelmora Technologies/KVPortal.conf";
    std::filesystem::remove(path);
    if (lines.empty()) {
        return;
    }
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    writeFile(path, "[General]\n" + lines + "\n");
    const timespec times[2] = {{stamp, 0}, {stamp, 0}};
    ++stamp;
    ASSERT_EQ(0, ::utimensat(AT_FDCWD, path.c_str(), times, 0));
}

TEST(QtProxySettings, MachineWideValuesWinAndEachCallReadsTheFilesAnew) {
    const struct {
        const char* site;
        const char* vendor;
        const char* user;
        const char* key;
        bool number;
        const char* fallback;
        const char* expected;
    } cases[] = {
        {"disable_this=1", "", "disable_this=0", "disable_this", true, "0", "1"},
        {"publish_file=/srv/site.json", "", "publish_file=/home/user.json", "publish_file", false,
         "fallback", "/srv/site.json"},
        {"", "publish_lvl=1", "publish_lvl=0", "publish_lvl", true, "0", "1"},
        {"disable_this=0", "", "zeroconf_ext=1", "zeroconf_ext", true, "0", "1"},
        {"", "", "publish_file=/home/studio/publish.json", "publish_file", false, "",
         "/home/studio/publish.json"},
        {"", "", "", "publish_lvl", true, "7", "7"},
        {"", "", "", "publish_file", false, "fallback", "fallback"},
        {"", "", "zeroconf_ext=yes", "zeroconf_ext", true, "1", "0"},
        {"", "", "zeroconf_ext=2", "zeroconf_ext", true, "0", "2"},
        {"", "", "publish_file=/srv/M\xC3\xBCller/a,b/dozoPublishConf.json", "publish_file", false,
         "", "/srv/M\xC3\xBCller/a,b/dozoPublishConf.json"},
    };
    settingsRoot();
    QtProxy proxy;
    for (const auto& c : cases) {
        writeSettings("site", c.site);
        writeSettings("vendor", c.vendor);
        writeSettings("user", c.user);
        if (c.number) {
            EXPECT_EQ(std::atoi(c.expected), proxy.getInt(c.key, std::atoi(c.fallback))) << c.key;
        } else {
            EXPECT_EQ(c.expected, proxy.getString(c.key, c.fallback)) << c.key;
        }
    }
}

class QtProxyPrograms : public ::testing::Test {
protected:
    int runShell(const std::string& script, const char* workingDirectory = nullptr) {
        const char* arguments[] = {"-c", script.c_str()};
        return proxy.runProgram("/bin/sh", workingDirectory, 2, arguments, true);
    }

    QtProxy proxy;
    TempDir dir;
};

TEST_F(QtProxyPrograms, WaitingGivesTheExitCodeAndMinusOneForACrashOrAProgramThatCannotStart) {
    const std::string notExecutable = dir.file("notes.txt");
    writeFile(notExecutable, "not a program\n");
    const std::pair<std::string, int> cases[] = {
        {"exit 3", 3},
        {"exit 255", 255},
        {"cat > /dev/null; exit 4", 4},
        {"kill -SEGV $$", -1},
    };
    for (const auto& [script, code] : cases) {
        StdoutCapture capture;
        EXPECT_EQ(code, runShell(script)) << script;
        EXPECT_EQ(code < 0, capture.text().find("/bin/sh crashed\n") != std::string::npos);
    }
    for (const std::string& program : {dir.file("missing"), notExecutable}) {
        StdoutCapture capture;
        EXPECT_EQ(-1, proxy.runProgram(program.c_str(), nullptr, 0, nullptr, true));
        EXPECT_NE(std::string::npos, capture.text().find("Cannot start " + program + ": "));
    }
}

TEST_F(QtProxyPrograms, PassesExactlyTheCountedArgumentsInTheGivenFolder) {
    const std::string script = "printf '%s|' \"$#\" \"$@\" \"$(pwd)\" > arguments";
    const char* arguments[] = {"-c",    script.c_str(),  "sh",         "two words",
                               nullptr, "M\xC3\xBCller", "not counted"};
    EXPECT_EQ(0, proxy.runProgram("/bin/sh", dir.path().c_str(), 6, arguments, true));
    EXPECT_EQ("3|two words||M\xC3\xBCller|" + std::filesystem::canonical(dir.path()).string() + "|",
              readFile(dir.file("arguments")));
}

// The program answers through a pipe only after the call has returned: it ran on its own.
TEST_F(QtProxyPrograms, WithoutWaitingReturnsZeroWhileTheProgramStillRuns) {
    const std::string in = dir.file("in");
    const std::string out = dir.file("out");
    ASSERT_EQ(0, ::mkfifo(in.c_str(), 0600));
    ASSERT_EQ(0, ::mkfifo(out.c_str(), 0600));
    const std::string script = "read line < '" + in + "'; echo \"$line\" > '" + out + "'";
    const char* arguments[] = {"-c", script.c_str()};
    EXPECT_EQ(0, proxy.runProgram("/bin/sh", nullptr, 2, arguments, false));
    writeFile(in, "finished\n");
    EXPECT_EQ("finished\n", readFile(out));
    EXPECT_EQ(0, proxy.runProgram(dir.file("missing").c_str(), nullptr, 0, nullptr, false));
}

// A Windows installer runs through wine, found on the PATH; anything else is never run.
TEST_F(QtProxyPrograms, InstallersRunThroughWineOnly) {
    const char* path = std::getenv("PATH");
    const std::string savedPath = path != nullptr ? path : "";
    std::filesystem::create_directory(dir.file("bin"));
    ::setenv("PATH", dir.file("bin").c_str(), 1);
    const auto script = [](const std::string& file, const std::string& body) {
        writeFile(file, "#!/bin/sh\n" + body + "\n");
        std::filesystem::permissions(file, std::filesystem::perms::owner_all);
        return file;
    };
    script(dir.file("bin/wine"), "printf '%s|' \"$@\" > '" + dir.file("seen") + "'\nexit 5");
    const std::string windowsInstaller = std::string(KV_TEST_PE_DIR) + "/application.exe";
    EXPECT_EQ(5, proxy.runInstaller(windowsInstaller.c_str(), "192.168.1.20"));
    EXPECT_EQ(windowsInstaller + "|", readFile(dir.file("seen")));

    const std::string installer = script(dir.file("setup.sh"), "exit 7");
    StdoutCapture capture;
    EXPECT_EQ(-1, proxy.runInstaller(installer.c_str(), "192.168.1.20"));
    ::setenv("PATH", savedPath.c_str(), 1);
    EXPECT_NE(std::string::npos, capture.text().find("Cannot start " + installer));
}

} // namespace
