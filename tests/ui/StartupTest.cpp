// Start-up and shutdown of the real program, as separate processes on the offscreen platform.
// Each test gives its processes a home, settings, a runtime folder and a temporary folder of
// their own (the single-instance block's key lives there), and a release server on loopback.

#include "ReleaseServer.h"
#include "TempDir.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <memory>
#include <regex>
#include <string>
#include <vector>

namespace {

using kv::test::readFile;
using kv::test::TempDir;
using kv::test::writeFile;

constexpr int kDeadlineMs = 30000;
constexpr char kSeparator[] = "----------------------------------------------------------\n";
// Ends the program by itself once its applications are evaluated against the catalogue.
const QStringList kEndingCommand{"--firmware_update", "KVPortal", "missing.bin"};

class Studio {
public:
    Studio() {
        for (const char* folder : {"home", "config/Kelmora Technologies", "site", "programs",
                                   "runtime", "tmp", "release"}) {
            std::filesystem::create_directories(root.file(folder));
        }
        std::filesystem::permissions(root.file("runtime"), std::filesystem::perms::owner_all);
        writeFile(
            root.file("release/dozoPublishConf.json"),
            R"({"products":[{"ID":"KORVEX-FIRMWARE","IV":"1.0.0b1","IF":"k.img","LK":"k"}]})");
        server = std::make_unique<kv::test::ReleaseServer>(root.file("release"));
        writeFile(root.file("config/Kelmora Technologies/KVPortal.conf"),
                  "[General]\npublish_file=" + server->url("/dozoPublishConf.json") + "\n");
    }

    QProcessEnvironment environment() const {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        const auto set = [&](const char* name, const std::string& value) {
            environment.insert(QString::fromLatin1(name), QString::fromStdString(value));
        };
        set("HOME", root.file("home"));
        set("XDG_CONFIG_HOME", root.file("config"));
        set("XDG_CONFIG_DIRS", root.file("site"));
        set("KVPORTAL_PROGRAM_FILES", root.file("programs"));
        set("XDG_RUNTIME_DIR", root.file("runtime"));
        set("TMPDIR", root.file("tmp"));
        set("QT_QPA_PLATFORM", "offscreen");
        set("KVPORTAL_COLOR_SCHEME", "light");
        // No desktop bus and no DNS-SD daemon: nothing leaves the machine.
        set("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + root.file("no-bus"));
        set("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + root.file("no-bus"));
        environment.remove(QStringLiteral("DISPLAY"));
        environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
        return environment;
    }

    std::string logPath() const { return root.file("home/Downloads/KV/log.txt"); }
    std::string log() const { return readFile(logPath()); }

    TempDir root;
    std::unique_ptr<kv::test::ReleaseServer> server;
};

class Portal {
public:
    Portal(const Studio& studio, const QStringList& arguments,
           const QString& program = QStringLiteral(KV_PORTAL_BINARY)) {
        process_.setProcessEnvironment(studio.environment());
        process_.setProgram(program);
        process_.setArguments(arguments);
        process_.start();
        started_ = process_.waitForStarted(kDeadlineMs);
    }

    ~Portal() {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished();
        }
    }

    bool started() const { return started_; }
    qint64 processId() const { return process_.processId(); }
    bool running() const { return process_.state() == QProcess::Running; }
    void kill() {
        process_.kill();
        process_.waitForFinished(kDeadlineMs);
    }

    // The exit code of a normal end, -1 when the program did not end so in time.
    int exitCode() {
        if (!process_.waitForFinished(kDeadlineMs) ||
            process_.exitStatus() != QProcess::NormalExit) {
            return -1;
        }
        return process_.exitCode();
    }

    QString output() { return QString::fromUtf8(process_.readAllStandardOutput()); }
    QString errors() { return QString::fromUtf8(process_.readAllStandardError()); }

    // Until the program has written the line, or the deadline.
    bool says(const QString& line) {
        QDeadlineTimer deadline(kDeadlineMs);
        while (!said_.contains(line)) {
            if (!process_.canReadLine() &&
                !process_.waitForReadyRead(static_cast<int>(deadline.remainingTime()))) {
                return false;
            }
            while (process_.canReadLine()) {
                said_ << QString::fromUtf8(process_.readLine()).trimmed();
            }
        }
        return true;
    }

    // The process id in the last line that starts with the prefix and ends "(process N)".
    int reportedProcess(const QString& prefix) {
        said_ << QString::fromUtf8(process_.readAllStandardOutput()).split(QLatin1Char('\n'));
        for (auto line = said_.crbegin(); line != said_.crend(); ++line) {
            const int open = line->lastIndexOf(QStringLiteral("(process "));
            if (line->startsWith(prefix) && open >= 0) {
                return line->mid(open + 9).chopped(1).toInt();
            }
        }
        return -1;
    }

private:
    QProcess process_;
    bool started_ = false;
    QStringList said_;
};

int count(const std::string& text, const std::string& part) {
    int found = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++found;
    }
    return found;
}

// Until the log shows the text `times` times, or the deadline.
bool logShows(const Studio& studio, const std::string& text, int times = 1) {
    QDeadlineTimer deadline(kDeadlineMs);
    while (count(studio.log(), text) < times) {
        if (deadline.hasExpired()) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

void setModificationTime(const std::string& path, std::time_t when) {
    std::filesystem::last_write_time(path, std::filesystem::file_time_type::clock::now() +
                                               std::chrono::seconds(when - std::time(nullptr)));
}

TEST(Startup, ProgramEndsWithZeroWhenItsCommandIsOver) {
    Studio studio;
    Portal portal(studio, kEndingCommand);
    ASSERT_TRUE(portal.started());
    EXPECT_EQ(portal.exitCode(), 0);

    const std::string log = studio.log();
    const auto separator = log.find(kSeparator);
    ASSERT_NE(separator, std::string::npos) << log;
    EXPECT_EQ(log.rfind('\n', separator), std::string::npos) << "the separator comes first";
    EXPECT_NE(log.find("--firmware_update failed: " + studio.root.file("home") +
                       "/Downloads/KV/Software/missing.bin does not exist\n"),
              std::string::npos)
        << log;
    EXPECT_TRUE(std::filesystem::exists(studio.root.file("home/Downloads/KV/kvportal.ipc")));
}

TEST(Startup, SecondStartLeavesTheRunningOneAloneAndEndsWithZero) {
    Studio studio;
    Portal first(studio, {});
    ASSERT_TRUE(first.started());
    ASSERT_TRUE(logShows(studio, "Sync finished"));

    Portal second(studio, kEndingCommand);
    ASSERT_TRUE(second.started());
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(
        second.output().contains(QStringLiteral("KVPortal instance is already running...\n")));
    EXPECT_TRUE(first.running());
    const std::string log = studio.log();
    EXPECT_EQ(count(log, kSeparator), 1) << "the second start opened the log";
    EXPECT_EQ(count(log, "--firmware_update failed"), 0) << "the second start read its command";
}

TEST(Startup, WithoutADisplayACommandRunsOnTheConsoleAndNothingElseStarts) {
    // Neither a display nor a chosen platform plugin, as over SSH.
    const QStringList bare{"-u", "QT_QPA_PLATFORM", KV_PORTAL_BINARY};
    const struct {
        const char* name;
        bool windowRuns;
        QStringList arguments;
        int exitCode;
        QString said;
        QString complained;
    } cases[] = {
        {"command", false, bare + kEndingCommand, 0, "--firmware_update failed: ", ""},
        {"no command", false, bare, 1, "", "kvportal: no display"},
        {"command beside a window", true, bare + kEndingCommand, 1,
         "KVPortal instance is already running...", "kvportal: the command was not run"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Studio studio;
        std::unique_ptr<Portal> window;
        if (c.windowRuns) {
            window = std::make_unique<Portal>(studio, QStringList{});
            ASSERT_TRUE(window->started());
            ASSERT_TRUE(logShows(studio, "Sync finished"));
        }
        Portal portal(studio, c.arguments, QStringLiteral("/usr/bin/env"));
        ASSERT_TRUE(portal.started());
        EXPECT_EQ(portal.exitCode(), c.exitCode);
        const QString output = portal.output();
        const QString errors = portal.errors();
        EXPECT_EQ(output.isEmpty(), c.said.isEmpty()) << output.toStdString();
        EXPECT_TRUE(output.contains(c.said)) << output.toStdString();
        if (!c.complained.isEmpty()) {
            EXPECT_EQ(errors.count(QLatin1Char('\n')), 1) << errors.toStdString();
            EXPECT_TRUE(errors.startsWith(c.complained)) << errors.toStdString();
        }
        if (window) {
            EXPECT_TRUE(window->running());
        }
    }
}

TEST(Startup, KilledInstanceDoesNotKeepTheNextOneFromRunning) {
    Studio studio;
    {
        Portal first(studio, {});
        ASSERT_TRUE(first.started());
        ASSERT_TRUE(logShows(studio, "Sync finished"));
        first.kill();
    }
    Portal next(studio, kEndingCommand);
    ASSERT_TRUE(next.started());
    EXPECT_EQ(next.exitCode(), 0);
    EXPECT_EQ(count(studio.log(), kSeparator), 2);
    EXPECT_NE(studio.log().find("--firmware_update failed"), std::string::npos);
}

TEST(Startup, LogOlderThanFiveDaysIsStartedAfreshAndAYoungerOneContinued) {
    Studio studio;
    std::filesystem::create_directories(studio.root.file("home/Downloads/KV"));
    writeFile(studio.logPath(), "a run four days ago\n");
    setModificationTime(studio.logPath(), std::time(nullptr) - 4 * 86400);
    {
        Portal portal(studio, kEndingCommand);
        ASSERT_TRUE(portal.started());
        EXPECT_EQ(portal.exitCode(), 0);
    }
    EXPECT_EQ(studio.log().rfind("a run four days ago\n", 0), 0u) << "appended to";
    EXPECT_EQ(count(studio.log(), kSeparator), 1);

    setModificationTime(studio.logPath(), std::time(nullptr) - 6 * 86400);
    {
        Portal portal(studio, kEndingCommand);
        ASSERT_TRUE(portal.started());
        EXPECT_EQ(portal.exitCode(), 0);
    }
    EXPECT_EQ(count(studio.log(), "a run four days ago"), 0) << "not renewed";
    EXPECT_EQ(studio.log().find(kSeparator), std::string("HH:MM:SS  ").size())
        << "the new log starts with this run";
    EXPECT_EQ(count(studio.log(), kSeparator), 1);
}

// The options of the manual page's OPTIONS section, as typed.
std::vector<std::string> manualOptions() {
    const std::string page = readFile(KV_MANUAL_PAGE);
    const auto begin = page.find(".SH OPTIONS");
    const std::string section = page.substr(begin, page.find(".SH ", begin + 1) - begin);
    const std::regex option(R"((\\-\\-[a-z_]+(?:\\-[a-z_]+)*|\\-[a-z])(?=[ "\n]))");
    std::vector<std::string> options;
    for (auto it = std::sregex_iterator(section.begin(), section.end(), option);
         it != std::sregex_iterator(); ++it) {
        options.push_back(std::regex_replace(it->str(), std::regex(R"(\\-)"), "-"));
    }
    return options;
}

TEST(Startup, HelpAndVersionAreAnsweredBeforeAnythingNeedsADisplay) {
    const std::string version =
        "KVPortal " KV_BUILT_VERSION "\nDNS-SD provider: " KV_DNSSD_PROVIDER "\n";
    for (const char* option : {"--version", "--help"}) {
        SCOPED_TRACE(option);
        Studio studio;
        // Without a platform plugin Qt would end the program at once, without a display.
        Portal portal(studio, {"-u", "QT_QPA_PLATFORM", KV_PORTAL_BINARY, option},
                      QStringLiteral("/usr/bin/env"));
        ASSERT_TRUE(portal.started());
        EXPECT_EQ(portal.exitCode(), 0);
        const std::string output = portal.output().toStdString();
        if (option == std::string("--version")) {
            EXPECT_EQ(output, version);
        } else {
            EXPECT_EQ(output.rfind("Usage: kvportal", 0), 0u) << output;
        }
        EXPECT_FALSE(std::filesystem::exists(studio.logPath()));
    }
}

TEST(Startup, HistoryIsPrintedFromItsFileAlone) {
    Studio studio;
    const std::string first =
        R"({"time":"2026-12-07T22:35:00Z","product":"Korvex","code":"KORVEX-FIRMWARE",)"
        R"("address":"192.0.2.7","from_version":"1.0.0 b1","to_version":"2.0.0 b7",)"
        R"("result":"failed","error_code":-1,"duration_ms":1234})";
    const std::string second = R"({"time":"2026-12-07T22:36:00Z","product":"Rx48"})";
    std::filesystem::create_directories(studio.root.file("home/Downloads/KV"));
    // The last line was cut by a crash.
    writeFile(studio.root.file("home/Downloads/KV/history.jsonl"),
              first + "\n" + second + "\n{\"time\":\"2026");
    const QStringList bare{"-u", "QT_QPA_PLATFORM", KV_PORTAL_BINARY, "--history"};

    Portal json(studio, bare + QStringList{"--json"}, QStringLiteral("/usr/bin/env"));
    ASSERT_TRUE(json.started());
    EXPECT_EQ(json.exitCode(), 0);
    const QJsonArray entries = QJsonDocument::fromJson(json.output().toUtf8()).array();
    ASSERT_EQ(entries.size(), 2);
    EXPECT_EQ(entries[0].toObject(),
              QJsonDocument::fromJson(QByteArray::fromStdString(first)).object());
    EXPECT_EQ(entries[1].toObject().value(QStringLiteral("product")).toString(), "Rx48");

    Portal table(studio, bare, QStringLiteral("/usr/bin/env"));
    ASSERT_TRUE(table.started());
    EXPECT_EQ(table.exitCode(), 0);
    const QStringList lines = table.output().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3) << table.output().toStdString();
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("TIME "))) << lines[0].toStdString();
    EXPECT_EQ(lines[1].split(QLatin1Char(' '), Qt::SkipEmptyParts),
              QStringList({"2026-12-07T22:35:00Z", "Korvex", "KORVEX-FIRMWARE", "192.0.2.7",
                           "1.0.0", "b1", "2.0.0", "b7", "failed", "-1", "1234"}));
    EXPECT_FALSE(std::filesystem::exists(studio.logPath()));
}

TEST(Startup, HelpAndTheReadmeListEveryOptionOfTheManualPage) {
    Studio studio;
    Portal portal(studio, {"--help"});
    ASSERT_TRUE(portal.started());
    ASSERT_EQ(portal.exitCode(), 0);
    const std::string help = portal.output().toStdString();
    const std::string readme = readFile(KV_README);
    const std::vector<std::string> options = manualOptions();
    EXPECT_GE(options.size(), 7u);
    for (const std::string& option : options) {
        EXPECT_NE(help.find(" " + option + (option == "-v" ? "," : " ")), std::string::npos)
            << option << " missing from --help";
        EXPECT_NE(readme.find("`" + option), std::string::npos) << option << " missing from README";
    }
}

TEST(Startup, RestartLauncherStartsTheProgramAgainOnceItHasEnded) {
    Studio studio;
    // A copy of its own, so that no other test's instance is waited for.
    std::filesystem::create_directories(studio.root.file("bin"));
    const std::string program = studio.root.file("bin/kvportal");
    std::filesystem::copy_file(KV_PORTAL_BINARY, program);
    std::filesystem::copy_file(KV_APP_LAUNCHER, studio.root.file("bin/app_launcher"));

    Portal first(studio, {}, QString::fromStdString(program));
    ASSERT_TRUE(first.started());
    ASSERT_TRUE(logShows(studio, "Sync finished"));
    Portal launcher(
        studio, {"--name", "kvportal", "--path", QString::fromStdString(program), "--flags", "1"},
        QString::fromStdString(studio.root.file("bin/app_launcher")));
    ASSERT_TRUE(
        launcher.says(QStringLiteral("app_launcher: waiting for kvportal (process %1) to end")
                          .arg(first.processId())));
    EXPECT_EQ(count(studio.log(), kSeparator), 1);

    first.kill();
    EXPECT_EQ(launcher.exitCode(), 0);
    const int restarted = launcher.reportedProcess(QStringLiteral("app_launcher: started"));
    ASSERT_GT(restarted, 0);
    EXPECT_TRUE(logShows(studio, kSeparator, 2));
    EXPECT_TRUE(logShows(studio, "Sync finished", 2)) << "the new instance runs";
    ::kill(restarted, SIGKILL);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
