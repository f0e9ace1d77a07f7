// The restart launcher between real processes: a stand-in program is copied into a private
// folder, so the launcher only ever sees the processes of this test.

#include "ChildProgram.h"
#include "LauncherArguments.h"
#include "TempDir.h"
#include "platform/Processes.h"

#include <QCoreApplication>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

using kv::launcher::parseLauncherArguments;
using kv::test::ChildProgram;

std::vector<std::string> startLines(const kv::test::TempDir& folder) {
    std::istringstream text(kv::test::readFile(folder.file("starts.txt")));
    std::vector<std::string> lines;
    for (std::string line; std::getline(text, line);) {
        lines.push_back(line);
    }
    return lines;
}

std::string installTarget(const kv::test::TempDir& folder, const std::string& name) {
    const std::string path = folder.file(name);
    std::filesystem::copy_file(KV_RESTART_TARGET, path);
    return path;
}

// A process of the stand-in that runs until its input closes.
std::unique_ptr<ChildProgram> heldTarget(const std::string& path) {
    auto target = std::make_unique<ChildProgram>(QString::fromStdString(path),
                                                 QStringList{QStringLiteral("--hold")});
    EXPECT_TRUE(target->waitFor(QStringLiteral("holding")));
    return target;
}

ChildProgram startLauncher(const QStringList& arguments) {
    return ChildProgram(QStringLiteral(KV_APP_LAUNCHER), arguments);
}

// The process id the launcher reported for the program it started, or -1.
int startedPid(ChildProgram& launcher) {
    for (const QString& line : launcher.lines()) {
        const int open = line.lastIndexOf(QStringLiteral("(process "));
        if (line.startsWith(QStringLiteral("app_launcher: started")) && open >= 0) {
            return line.mid(open + 9).chopped(1).toInt();
        }
    }
    return -1;
}

QStringList restartArguments(const std::string& path, const char* flags = "1") {
    return {QStringLiteral("--name"),  QStringLiteral("KVPortal.exe"),
            QStringLiteral("--path"),  QString::fromStdString(path),
            QStringLiteral("--flags"), QString::fromLatin1(flags)};
}

// The started program is not the launcher's to wait for: the test waits for it by its id.
void waitForStartedProgram(ChildProgram& launcher) {
    const int pid = startedPid(launcher);
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(
        kv::platform::waitForProcessEnd(pid, std::chrono::milliseconds(ChildProgram::kDeadlineMs)));
}

TEST(AppLauncher, WaitsForItsOwnProgramOnlyAndStartsItAgainWhenAsked) {
    enum Target { kNone, kRunning, kReplaced, kElsewhere };
    const struct {
        const char* name;
        Target target;
        const char* flags;
        bool waits;
        bool starts;
    } cases[] = {
        {"running", kRunning, "1", true, true},
        {"already ended", kNone, "1", false, true},
        {"file replaced by an update", kReplaced, "1", true, true},
        {"same program elsewhere", kElsewhere, "1", false, true},
        {"without the restart flag", kRunning, "0", true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        kv::test::TempDir folder;
        kv::test::TempDir otherFolder;
        const std::string path = installTarget(folder, "KVPortal");
        std::unique_ptr<ChildProgram> target;
        if (c.target != kNone) {
            target =
                heldTarget(c.target == kElsewhere ? installTarget(otherFolder, "KVPortal") : path);
        }
        if (c.target == kReplaced) {
            std::filesystem::remove(path);
            std::filesystem::copy_file(KV_RESTART_TARGET, path);
        }
        const std::size_t before = startLines(folder).size();

        ChildProgram launcher = startLauncher(restartArguments(path, c.flags));
        if (c.waits) {
            ASSERT_TRUE(launcher.waitFor(
                QStringLiteral("app_launcher: waiting for KVPortal.exe (process %1) to end")
                    .arg(target->pid())));
            EXPECT_EQ(startLines(folder).size(), before);
            target->closeInput();
        }
        EXPECT_EQ(launcher.exitCode(), 0);
        if (!c.starts) {
            EXPECT_EQ(startedPid(launcher), -1);
            continue;
        }
        waitForStartedProgram(launcher);
        const auto lines = startLines(folder);
        ASSERT_EQ(lines.size(), before + 1);
        EXPECT_EQ(lines.back(), std::to_string(startedPid(launcher))) << "without arguments";
    }
}

TEST(AppLauncher, EndsWithTwoForABadCommandLineAndOneForAProgramThatCannotStart) {
    ChildProgram noPath = startLauncher({QStringLiteral("--name"), QStringLiteral("KVPortal.exe")});
    EXPECT_EQ(noPath.exitCode(), 2);
    kv::test::TempDir folder;
    ChildProgram missing = startLauncher(restartArguments(folder.file("missing")));
    EXPECT_EQ(missing.exitCode(), 1);
}

TEST(LauncherArguments, ReadsTheRestartCommandLine) {
    const char* argv[] = {
        "app_launcher", "--name", "KVPortal.exe", "--path", "\"/opt/kv portal/kvportal\"",
        "--flags",      "1"};
    const auto arguments = parseLauncherArguments(7, argv);
    ASSERT_TRUE(arguments);
    EXPECT_EQ(arguments->name, "KVPortal.exe");
    EXPECT_EQ(arguments->path, "/opt/kv portal/kvportal") << "quotes around the path dropped";
    EXPECT_EQ(arguments->flags, 1u);

    const char* unquoted[] = {"app_launcher", "--path", "/opt/kvportal"};
    const auto plain = parseLauncherArguments(3, unquoted);
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->path, "/opt/kvportal");
    EXPECT_EQ(plain->flags, 0u);
}

TEST(LauncherArguments, RejectsMissingAndMalformedValues) {
    const char* pathLast[] = {"app_launcher", "--flags", "1", "--path"};
    EXPECT_FALSE(parseLauncherArguments(4, pathLast));
    const char* badFlags[] = {"app_launcher", "--path", "/p", "--flags", "one"};
    EXPECT_FALSE(parseLauncherArguments(5, badFlags));
    const char* unknown[] = {"app_launcher", "--path", "/p", "--wait"};
    EXPECT_FALSE(parseLauncherArguments(4, unknown));
    const char* noPath[] = {"app_launcher", "--name", "KVPortal.exe"};
    EXPECT_FALSE(parseLauncherArguments(3, noPath));
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
