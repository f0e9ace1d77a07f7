// The start-up steps that stand on their own: the command line, the log file's renewal, and the
// interface defaults on a 192-dpi desktop (the test runs with QT_FONT_DPI=192).

#include "ManagerEnvironment.h"
#include "TempDir.h"
#include "platform/FileTime.h"
#include "ui/UiScale.h"
#include "ui/main/CommandLine.h"
#include "ui/main/InterfaceDefaults.h"
#include "ui/main/LogFile.h"
#include "ui/manager/Manager.h"
#include "ui/window/Window.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

namespace {

using kv::portal::CommandLine;
using kv::portal::CommandRequest;
using kv::portal::parseCommandLine;
using kv::test::TempDir;

CommandLine parse(std::vector<const char*> arguments) {
    arguments.insert(arguments.begin(), "/opt/kvportal/kvportal");
    return parseCommandLine(static_cast<int>(arguments.size()), arguments.data());
}

TEST(CommandLine, ReadsEveryOptionWithItsValues) {
    const CommandLine line = parse({"--uid", "KORVEX-1", "--firmware_update", "KORVEX-1", "fw.bin",
                                    "--firmware_download_update", "RX48-2", "--verbose"});
    EXPECT_TRUE(line.console);
    EXPECT_EQ(line.uid, "KORVEX-1");
    ASSERT_EQ(line.commands.size(), 2u);
    EXPECT_EQ(line.commands[0].kind, CommandRequest::Kind::FirmwareUpdate);
    EXPECT_EQ(line.commands[0].productName, "KORVEX-1");
    EXPECT_EQ(line.commands[0].fileName, "fw.bin");
    EXPECT_EQ(line.commands[1].kind, CommandRequest::Kind::FirmwareDownloadUpdate);
    EXPECT_EQ(line.commands[1].productName, "RX48-2");
    EXPECT_TRUE(parse({"-v"}).console);

    const CommandLine list = parse({"--wait", "3", "--list", "--json"});
    ASSERT_EQ(list.commands.size(), 1u);
    EXPECT_EQ(list.commands[0].kind, CommandRequest::Kind::List);
    EXPECT_TRUE(list.json);
    EXPECT_EQ(list.waitSeconds, 3);
    EXPECT_EQ(parse({"--list"}).waitSeconds, 10);

    const CommandLine all = parse({"--include-software", "--update-all", "--dry-run"});
    ASSERT_EQ(all.commands.size(), 1u);
    EXPECT_EQ(all.commands[0].kind, CommandRequest::Kind::UpdateAll);
    EXPECT_TRUE(all.dryRun);
    EXPECT_TRUE(all.includeSoftware);
    EXPECT_FALSE(parse({"--update-all"}).dryRun || parse({"--update-all"}).includeSoftware);
}

TEST(CommandLine, IgnoresOptionsWhoseValuesAreMissing) {
    const CommandLine update = parse({"--firmware_update", "KORVEX-1"});
    EXPECT_TRUE(update.commands.empty());
    EXPECT_TRUE(parse({"--firmware_download_update"}).commands.empty());

    const CommandLine uidLast = parse({"--uid", "KORVEX-1", "--uid"});
    EXPECT_EQ(uidLast.uid, "KORVEX-1") << "the last complete --uid counts";
    EXPECT_TRUE(parse({"--uid"}).uid.empty());
}

TEST(CommandLine, ReadsAValueSpelledLikeAnOptionAsOneToo) {
    const CommandLine line = parse({"--uid", "--verbose"});
    EXPECT_EQ(line.uid, "--verbose");
    EXPECT_TRUE(line.console);

    const CommandLine nested = parse({"--firmware_update", "--firmware_download_update", "X", "Y"});
    ASSERT_EQ(nested.commands.size(), 2u);
    EXPECT_EQ(nested.commands[0].productName, "--firmware_download_update");
    EXPECT_EQ(nested.commands[0].fileName, "X");
    EXPECT_EQ(nested.commands[1].kind, CommandRequest::Kind::FirmwareDownloadUpdate);
    EXPECT_EQ(nested.commands[1].productName, "X");
}

TEST(CommandLine, ComparesOptionsExactly) {
    const CommandLine line = parse({"-V", "--Verbose", "--uid=KORVEX-1", "--firmware-update", "a",
                                    "b", "verbose", "--verbose "});
    EXPECT_FALSE(line.console);
    EXPECT_TRUE(line.uid.empty());
    EXPECT_TRUE(line.commands.empty());
}

TEST(CommandLine, ScansTheProgramPathToo) {
    const char* arguments[] = {"--verbose"};
    EXPECT_TRUE(parseCommandLine(1, arguments).console);
    EXPECT_FALSE(parseCommandLine(0, arguments).console);
}

TEST(LogFile, LivesInTheDownloadsFolder) {
    EXPECT_EQ(kv::portal::logFilePath("/home/user/Downloads/KV"),
              "/home/user/Downloads/KV/log.txt");
}

TEST(LogFile, IsRenewedOnlyWhenOlderThanFiveDays) {
    TempDir folder;
    const std::string path = kv::portal::logFilePath(folder.path());
    kv::test::writeFile(path, "old run\n");
    const int64_t written = kv::platform::fileModificationTime(path);
    ASSERT_GT(written, 0);

    kv::portal::renewLogFile(path, written + 432000);
    EXPECT_TRUE(std::filesystem::exists(path)) << "exactly five days old stays";
    kv::portal::renewLogFile(path, written + 432001);
    EXPECT_FALSE(std::filesystem::exists(path));
    kv::portal::renewLogFile(path, written + 432001);
    EXPECT_FALSE(std::filesystem::exists(path)) << "nothing there is fine too";
}

TEST(LogFile, RenewsWhateverStandsAtItsPath) {
    TempDir folder;
    const std::string path = kv::portal::logFilePath(folder.path());
    std::filesystem::create_directory(path);
    kv::test::writeFile(path + "/inside", "x");
    const int64_t written = kv::platform::fileModificationTime(path);
    kv::portal::renewLogFile(path, written + 432001);
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(LogFile, KeepsWhatCannotBeExamined) {
    TempDir folder;
    const std::string path = kv::portal::logFilePath(folder.path());
    std::filesystem::create_symlink(folder.file("nowhere"), path);
    kv::portal::renewLogFile(path, 4000000000);
    EXPECT_TRUE(std::filesystem::is_symlink(path));
}

TEST(InterfaceDefaults, ScaleFollowsTheDesktopResolution) {
    EXPECT_FLOAT_EQ(kv::portal::scaleForDpi(96), 1.0f);
    EXPECT_FLOAT_EQ(kv::portal::scaleForDpi(144), 1.5f);
    kv::portal::setScaleFromDesktop();
    EXPECT_FLOAT_EQ(kv::portal::uiScale(), 2.0f);
    EXPECT_EQ(kv::portal::scaled(640), 1280);
    EXPECT_EQ(kv::portal::scaled(480), 960);
    kv::portal::setUiScale(1.0f);
}

TEST(InterfaceDefaults, MainWindowOpensAtTwiceItsSizeOnA192DpiDesktop) {
    kv::portal::setScaleFromDesktop();
    kv::portal::Manager manager;
    kv::portal::Window* window =
        kv::portal::Window::showMainWindow(nullptr, manager.core(), &manager);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->size(), QSize(1280, 960));
    delete window;
    kv::portal::setUiScale(1.0f);
}

TEST(InterfaceDefaults, FontIsCalibriTenPoint) {
    const QFont font = kv::portal::applicationFont();
    EXPECT_EQ(font.family(), "Calibri");
    EXPECT_EQ(font.pointSize(), 10);
    EXPECT_EQ(font.weight(), QFont::Normal);
    EXPECT_FALSE(font.italic());
    EXPECT_EQ(font.styleHint(), QFont::Monospace);
    EXPECT_EQ(font.styleStrategy(), QFont::PreferDefault);
}

} // namespace

int main(int argc, char** argv) {
    kv::test::ManagerEnvironment environment;
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
