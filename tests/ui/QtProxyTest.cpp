#include "ui/QtProxy.h"

#include "StdoutCapture.h"
#include "TempDir.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <utility>
#include <vector>

using kv::portal::QtProxy;
using kv::test::readFile;
using kv::test::StdoutCapture;
using kv::test::TempDir;
using kv::test::writeFile;

namespace {

// The settings folders of the whole test program: QSettings reads the XDG variables once per
// process, so they are set before the first proxy exists and each test fills the files anew.
struct SettingsFolders {
    SettingsFolders() {
        ::setenv("XDG_CONFIG_HOME", root.file("user").c_str(), 1);
        ::setenv("XDG_CONFIG_DIRS", (root.file("site") + ":" + root.file("vendor")).c_str(), 1);
    }
    TempDir root;
};

const SettingsFolders& settingsFolders() {
    static const SettingsFolders folders;
    return folders;
}

std::string settingsFile(const std::string& scope) {
    return settingsFolders().root.file(scope) + "/Kelmora Technologies/KVPortal.conf";
}

// Each write gets a modification time of its own, so a rewrite of the same size within the
// same instant still reads as changed.
void writeSettings(const std::string& scope, const std::string& content) {
    static long long stamp = 1600000000;
    const std::string path = settingsFile(scope);
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    writeFile(path, content);
    const timespec times[2] = {{stamp, 0}, {stamp, 0}};
    ++stamp;
    ASSERT_EQ(0, ::utimensat(AT_FDCWD, path.c_str(), times, 0));
}

class QtProxySettings : public ::testing::Test {
protected:
    void SetUp() override {
        settingsFolders();
        for (const char* scope : {"user", "site", "vendor"}) {
            std::filesystem::remove(settingsFile(scope));
        }
    }
};

} // namespace

TEST_F(QtProxySettings, MachineWideValuesWinAndEachCallReadsTheFilesAnew) {
    // Settings lines of the machine-wide folders and of the user, then one question. One proxy
    // answers them all: every row is a change on disk.
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
        {"", "", "zeroconf_ext=1", "disable_this", true, "-2", "-2"},
        {"", "", "zeroconf_ext=yes", "zeroconf_ext", true, "1", "0"},
        {"", "", "disable_this=1.5", "disable_this", true, "1", "0"},
        {"", "", "zeroconf_ext=2", "zeroconf_ext", true, "0", "2"},
        {"zeroconf_ext=3", "", "zeroconf_ext=2", "zeroconf_ext", true, "0", "3"},
        {"", "", "publish_file=/srv/M\xC3\xBCller/a,b/dozoPublishConf.json", "publish_file", false,
         "", "/srv/M\xC3\xBCller/a,b/dozoPublishConf.json"},
    };
    QtProxy proxy;
    for (const auto& c : cases) {
        for (const auto& [scope, lines] :
             {std::pair{"site", c.site}, {"vendor", c.vendor}, {"user", c.user}}) {
            std::filesystem::remove(settingsFile(scope));
            if (*lines != '\0') {
                writeSettings(scope, std::string("[General]\n") + lines + "\n");
            }
        }
        if (c.number) {
            EXPECT_EQ(std::atoi(c.expected), proxy.getInt(c.key, std::atoi(c.fallback))) << c.key;
        } else {
            EXPECT_EQ(c.expected, proxy.getString(c.key, c.fallback)) << c.key;
        }
    }
}

TEST_F(QtProxySettings, ManyThreadsReadAtOnce) {
    writeSettings("site", "[General]\ndisable_this=1\n");
    writeSettings("user", "[General]\npublish_file=/srv/publish.json\n");
    QtProxy proxy;
    std::vector<std::thread> readers;
    std::vector<int> mismatches(4, 0);
    for (size_t reader = 0; reader < mismatches.size(); ++reader) {
        readers.emplace_back([&proxy, &mismatches, reader] {
            for (int round = 0; round < 200; ++round) {
                mismatches[reader] += proxy.getInt("disable_this", 0) != 1;
                mismatches[reader] += proxy.getString("publish_file", "") != "/srv/publish.json";
            }
        });
    }
    for (std::thread& reader : readers) {
        reader.join();
    }
    EXPECT_EQ(std::vector<int>(4, 0), mismatches);
}

namespace {

class QtProxyPrograms : public ::testing::Test {
protected:
    int runShell(const std::string& script, const char* workingDirectory = nullptr) {
        const char* arguments[] = {"-c", script.c_str()};
        return proxy.runProgram("/bin/sh", workingDirectory, 2, arguments, true);
    }

    QtProxy proxy;
    TempDir dir;
};

} // namespace

TEST_F(QtProxyPrograms, WaitingGivesTheProgramsExitCodeOrMinusOneForACrash) {
    const std::pair<const char*, int> cases[] = {
        {"exit 3", 3},         {"true", 0}, {"exit 255", 255}, {"cat > /dev/null; exit 4", 4},
        {"kill -SEGV $$", -1},
    };
    for (const auto& [script, code] : cases) {
        StdoutCapture capture;
        EXPECT_EQ(code, runShell(script)) << script;
        EXPECT_EQ(code < 0, capture.text().find("/bin/sh crashed\n") != std::string::npos);
    }
}

TEST_F(QtProxyPrograms, PassesExactlyTheCountedArgumentsInOrder) {
    const std::string out = dir.file("arguments");
    const std::string script = "printf '%s|' \"$#\" \"$@\" > '" + out + "'";
    const char* arguments[] = {"-c",    script.c_str(),  "sh",         "two words",
                               nullptr, "M\xC3\xBCller", "not counted"};
    EXPECT_EQ(0, proxy.runProgram("/bin/sh", nullptr, 6, arguments, true));
    EXPECT_EQ("3|two words||M\xC3\xBCller|", readFile(out));
}

TEST_F(QtProxyPrograms, RunsInTheGivenWorkingDirectory) {
    EXPECT_EQ(0, runShell("pwd > where", dir.path().c_str()));
    EXPECT_EQ(std::filesystem::canonical(dir.path()).string() + "\n", readFile(dir.file("where")));
}

TEST_F(QtProxyPrograms, ProgramThatCannotStartGivesMinusOneAndSaysWhy) {
    const std::string notExecutable = dir.file("notes.txt");
    writeFile(notExecutable, "not a program\n");
    StdoutCapture capture;
    EXPECT_EQ(-1, proxy.runProgram(dir.file("missing").c_str(), nullptr, 0, nullptr, true));
    EXPECT_EQ(-1, proxy.runProgram(notExecutable.c_str(), nullptr, 0, nullptr, true));
    const std::string log = capture.text();
    EXPECT_NE(std::string::npos, log.find("Cannot start " + dir.file("missing") + ": "));
    EXPECT_NE(std::string::npos, log.find("Cannot start " + notExecutable + ": "));
}

TEST_F(QtProxyPrograms, WithoutWaitingReturnsZeroWhileTheProgramStillRuns) {
    const std::string go = dir.file("go");
    const std::string done = dir.file("done");
    const std::string script =
        "while [ ! -e '" + go + "' ]; do sleep 0.01; done; echo finished > '" + done + "'";
    const char* arguments[] = {"-c", script.c_str()};
    EXPECT_EQ(0, proxy.runProgram("/bin/sh", nullptr, 2, arguments, false));
    EXPECT_FALSE(std::filesystem::exists(done));
    writeFile(go, "");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (readFile(done) != "finished\n" && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ("finished\n", readFile(done));
    EXPECT_EQ(0, proxy.runProgram(dir.file("missing").c_str(), nullptr, 0, nullptr, false));
}

namespace {

class QtProxyInstallers : public QtProxyPrograms {
protected:
    void SetUp() override {
        const char* path = std::getenv("PATH");
        savedPath_ = path != nullptr ? path : "";
        std::filesystem::create_directory(dir.file("bin"));
        ::setenv("PATH", dir.file("bin").c_str(), 1);
    }
    void TearDown() override { ::setenv("PATH", savedPath_.c_str(), 1); }

    std::string script(const std::string& path, const std::string& body) {
        writeFile(path, "#!/bin/sh\n" + body + "\n");
        std::filesystem::permissions(path, std::filesystem::perms::owner_all);
        return path;
    }

    const std::string windowsInstaller_ = std::string(KV_TEST_PE_DIR) + "/application.exe";

private:
    std::string savedPath_;
};

} // namespace

TEST_F(QtProxyInstallers, InstallerThatIsNotAWindowsProgramIsNeverRun) {
    const std::string ran = dir.file("ran");
    script(dir.file("bin/wine"), "exit 0");
    const std::string installer = script(dir.file("setup.sh"), "touch '" + ran + "'\nexit 7");
    StdoutCapture capture;
    EXPECT_EQ(-1, proxy.runInstaller(installer.c_str(), "192.168.1.20"));
    EXPECT_FALSE(std::filesystem::exists(ran));
    EXPECT_NE(std::string::npos, capture.text().find("Cannot start " + installer));
}

TEST_F(QtProxyInstallers, WindowsInstallerRunsThroughWine) {
    const std::string seen = dir.file("seen");
    script(dir.file("bin/wine"), "printf '%s|' \"$@\" > '" + seen + "'\nexit 5");
    EXPECT_EQ(5, proxy.runInstaller(windowsInstaller_.c_str(), "192.168.1.20"));
    EXPECT_EQ(windowsInstaller_ + "|", readFile(seen));
}

TEST_F(QtProxyInstallers, WindowsInstallerWithoutWineFailsToStart) {
    StdoutCapture capture;
    EXPECT_EQ(-1, proxy.runInstaller(windowsInstaller_.c_str(), nullptr));
    EXPECT_NE(std::string::npos, capture.text().find("Cannot start " + windowsInstaller_));
}
