// The restart launcher as a separate process, restarting a stand-in program of the test's own
// that has already ended (waiting for the real program is the end-to-end tests' part).

#include "TempDir.h"
#include "platform/Processes.h"

#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

namespace {

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
    const QRegularExpression started(
        QStringLiteral("^app_launcher: started (.*) \\(process (\\d+)\\)$"),
        QRegularExpression::MultilineOption);
    std::string startLines;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        QProcess launcher;
        launcher.start(QStringLiteral(KV_APP_LAUNCHER), c.arguments);
        ASSERT_TRUE(launcher.waitForFinished());
        EXPECT_EQ(launcher.exitCode(), c.code);
        const QRegularExpressionMatch match = started.match(launcher.readAllStandardOutput());
        ASSERT_EQ(match.hasMatch(), c.starts);
        if (c.starts) {
            EXPECT_EQ(match.captured(1), target);
            // The started program is not the launcher's to wait for.
            ASSERT_TRUE(kv::platform::waitForProcessEnd(match.captured(2).toInt(),
                                                        std::chrono::seconds(20)));
            startLines += "0\n";
        }
        EXPECT_EQ(kv::test::readFile(starts), startLines) << "started without arguments";
    }
}

} // namespace
