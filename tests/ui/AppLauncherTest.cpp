// The restart launcher between real processes: a stand-in program is copied into a private
// folder, so the launcher only ever sees the processes of this test.

#include "LauncherArguments.h"
#include "TempDir.h"
#include "platform/Processes.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr int kDeadlineMs = 20000;

using kv::launcher::parseLauncherArguments;

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

// A process of the stand-in that runs until it is released.
class HeldTarget {
public:
    explicit HeldTarget(const std::string& path) {
        process_.setProgram(QString::fromStdString(path));
        process_.setArguments({QStringLiteral("--hold")});
        process_.start();
        running_ = process_.waitForReadyRead(kDeadlineMs) &&
                   process_.readLine().trimmed() == QByteArrayLiteral("holding");
    }
    ~HeldTarget() { release(); }

    bool running() const { return running_; }
    int pid() const { return static_cast<int>(process_.processId()); }

    void release() {
        if (process_.state() != QProcess::NotRunning) {
            process_.closeWriteChannel();
            process_.waitForFinished(kDeadlineMs);
        }
    }

private:
    QProcess process_;
    bool running_ = false;
};

class Launcher {
public:
    explicit Launcher(const QStringList& arguments) {
        process_.setProgram(QStringLiteral(KV_APP_LAUNCHER));
        process_.setArguments(arguments);
        process_.start();
    }
    ~Launcher() {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished();
        }
    }

    bool says(const QString& line) {
        QDeadlineTimer deadline(kDeadlineMs);
        while (!lines_.contains(line)) {
            while (process_.canReadLine()) {
                lines_ << QString::fromUtf8(process_.readLine()).trimmed();
            }
            if (lines_.contains(line)) {
                break;
            }
            if (!process_.waitForReadyRead(static_cast<int>(deadline.remainingTime()))) {
                return false;
            }
        }
        return true;
    }

    bool isRunning() const { return process_.state() != QProcess::NotRunning; }

    // The exit code of a normal end, -1 when the launcher did not end so in time.
    int exitCode() {
        if (!process_.waitForFinished(kDeadlineMs) ||
            process_.exitStatus() != QProcess::NormalExit) {
            return -1;
        }
        return process_.exitCode();
    }

    // The process id the launcher reported for the program it started, or -1.
    int startedPid() {
        while (process_.canReadLine()) {
            lines_ << QString::fromUtf8(process_.readLine()).trimmed();
        }
        lines_ << QString::fromUtf8(process_.readAll()).trimmed();
        for (const QString& line : lines_) {
            const int open = line.lastIndexOf(QStringLiteral("(process "));
            if (line.startsWith(QStringLiteral("app_launcher: started")) && open >= 0) {
                return line.mid(open + 9).chopped(1).toInt();
            }
        }
        return -1;
    }

private:
    QProcess process_;
    QStringList lines_;
};

QStringList restartArguments(const std::string& path, const char* flags = "1") {
    return {QStringLiteral("--name"),  QStringLiteral("KVPortal.exe"),
            QStringLiteral("--path"),  QString::fromStdString(path),
            QStringLiteral("--flags"), QString::fromLatin1(flags)};
}

// The started program is not the launcher's to wait for: the test waits for it by its id.
void waitForStartedProgram(Launcher& launcher) {
    const int pid = launcher.startedPid();
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(kv::platform::waitForProcessEnd(pid, std::chrono::milliseconds(kDeadlineMs)));
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
        std::unique_ptr<HeldTarget> target;
        if (c.target != kNone) {
            target = std::make_unique<HeldTarget>(
                c.target == kElsewhere ? installTarget(otherFolder, "KVPortal") : path);
            ASSERT_TRUE(target->running());
        }
        if (c.target == kReplaced) {
            std::filesystem::remove(path);
            std::filesystem::copy_file(KV_RESTART_TARGET, path);
        }
        const std::size_t before = startLines(folder).size();

        Launcher launcher(restartArguments(path, c.flags));
        if (c.waits) {
            ASSERT_TRUE(launcher.says(
                QStringLiteral("app_launcher: waiting for KVPortal.exe (process %1) to end")
                    .arg(target->pid())));
            EXPECT_EQ(startLines(folder).size(), before);
            target->release();
        }
        EXPECT_EQ(launcher.exitCode(), 0);
        if (!c.starts) {
            EXPECT_EQ(launcher.startedPid(), -1);
            continue;
        }
        waitForStartedProgram(launcher);
        const auto lines = startLines(folder);
        ASSERT_EQ(lines.size(), before + 1);
        EXPECT_EQ(lines.back(), std::to_string(launcher.startedPid())) << "without arguments";
    }
}

TEST(AppLauncher, EndsWithTwoForABadCommandLineAndOneForAProgramThatCannotStart) {
    Launcher noPath({QStringLiteral("--name"), QStringLiteral("KVPortal.exe")});
    EXPECT_EQ(noPath.exitCode(), 2);
    kv::test::TempDir folder;
    Launcher missing(restartArguments(folder.file("missing")));
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
