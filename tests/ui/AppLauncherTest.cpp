// The restart launcher as a separate process, restarting a stand-in program of the test's own
// that has already ended (waiting for the real program is the end-to-end tests' part).

#include "ChildProgram.h"
#include "TempDir.h"
#include "platform/Processes.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace {

using kv::test::ChildProgram;

// The process id the launcher reported for the program it started, or -1.
int startedPid(ChildProgram& launcher) {
    for (const QString& line : launcher.lines()) {
        if (line.startsWith(QStringLiteral("app_launcher: started")) && line.endsWith(')')) {
            return line.mid(line.lastIndexOf(QStringLiteral("(process ")) + 9).chopped(1).toInt();
        }
    }
    return -1;
}

TEST(AppLauncher, StartsTheProgramOnlyWhenAskedAndEndsWithTwoForABadCommandLine) {
    kv::test::TempDir folder;
    const QString target = QString::fromStdString(folder.file("KVPortal"));
    const std::string starts = folder.file("starts.txt");
    kv::test::writeFile(target.toStdString(), "#!/bin/sh\necho \"$#\" >> '" + starts + "'\n");
    std::filesystem::permissions(target.toStdString(), std::filesystem::perms::owner_all);
    const QString missing = QString::fromStdString(folder.file("missing"));
    const struct {
        QStringList arguments;
        int code;
        bool starts;
    } cases[] = {
        {{"--name", "KVPortal.exe", "--path", target, "--flags", "1"}, 0, true},
        {{"--flags", "3", "--path", "\"" + target + "\""}, 0, true},
        {{"--name", "KVPortal.exe", "--path", target, "--flags", "0"}, 0, false},
        {{"--path", target}, 0, false},
        {{"--path", missing, "--flags", "1"}, 1, false},
        {{"--name", "KVPortal.exe"}, 2, false},
        {{"--path", target, "--flags", "one"}, 2, false},
        {{"--path", target, "--flags", ""}, 2, false},
        {{"--flags", "1", "--path"}, 2, false},
        {{"--path", target, "--wait"}, 2, false},
    };
    std::string started;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        ChildProgram launcher(QStringLiteral(KV_APP_LAUNCHER), c.arguments);
        EXPECT_EQ(launcher.exitCode(), c.code);
        const int pid = startedPid(launcher);
        EXPECT_EQ(pid > 0, c.starts);
        if (pid > 0) {
            ASSERT_TRUE(kv::platform::waitForProcessEnd(pid, std::chrono::seconds(20)));
            started += "0\n";
        }
        EXPECT_EQ(kv::test::readFile(starts), started) << "started without arguments";
    }
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
