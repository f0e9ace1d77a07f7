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
#include <string>
#include <vector>

namespace {

using kv::portal::CommandLine;
using kv::portal::CommandRequest;
using kv::portal::parseCommandLine;
using kv::test::TempDir;

// What the program read from a command line, in one line of text.
std::string read(std::vector<const char*> arguments) {
    arguments.insert(arguments.begin(), "/opt/kvportal/kvportal");
    const CommandLine line = parseCommandLine(static_cast<int>(arguments.size()), arguments.data());
    std::string text = std::string(line.console ? "console " : "") + "uid=" + line.uid;
    for (const CommandRequest& command : line.commands) {
        const char* kinds[] = {"update", "download_update", "list", "update_all"};
        text += std::string(" ") + kinds[static_cast<int>(command.kind)] + ":" +
                command.productName + ":" + command.fileName;
    }
    return text + (line.json ? " json" : "") + (line.dryRun ? " dry" : "") +
           (line.includeSoftware ? " software" : "") + " wait=" + std::to_string(line.waitSeconds);
}

TEST(CommandLine, ReadsEveryOptionWithItsValuesExactlyAsTyped) {
    const struct {
        std::vector<const char*> arguments;
        std::string read;
    } cases[] = {
        {{"--uid", "KORVEX-1", "--firmware_update", "KORVEX-1", "fw.bin",
          "--firmware_download_update", "RX48-2", "--verbose"},
         "console uid=KORVEX-1 update:KORVEX-1:fw.bin download_update:RX48-2: wait=10"},
        {{"-v"}, "console uid= wait=10"},
        {{"--wait", "3", "--list", "--json"}, "uid= list:: json wait=3"},
        {{"--include-software", "--update-all", "--dry-run"},
         "uid= update_all:: dry software wait=10"},
        {{"--update-all"}, "uid= update_all:: wait=10"},
        // An option whose values are missing is ignored.
        {{"--firmware_update", "KORVEX-1"}, "uid= wait=10"},
        {{"--firmware_download_update"}, "uid= wait=10"},
        {{"--uid", "KORVEX-1", "--uid"}, "uid=KORVEX-1 wait=10"},
        {{"--uid"}, "uid= wait=10"},
        // A value spelled like an option is read as one too.
        {{"--uid", "--verbose"}, "console uid=--verbose wait=10"},
        {{"--firmware_update", "--firmware_download_update", "X", "Y"},
         "uid= update:--firmware_download_update:X download_update:X: wait=10"},
        {{"-V", "--Verbose", "--uid=KORVEX-1", "--firmware-update", "a", "b", "verbose",
          "--verbose "},
         "uid= wait=10"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(read(c.arguments), c.read);
    }
    // The program's own path is scanned too.
    const char* verbose[] = {"--verbose"};
    EXPECT_TRUE(parseCommandLine(1, verbose).console);
    EXPECT_FALSE(parseCommandLine(0, verbose).console);
}

// Whatever stands at the log's path goes once older than five days; what cannot be examined
// stays.
TEST(LogFile, IsRenewedOnlyWhenOlderThanFiveDays) {
    TempDir folder;
    const std::string path = kv::portal::logFilePath(folder.path());
    EXPECT_EQ(path, folder.file("log.txt"));
    kv::portal::renewLogFile(path, 4000000000);
    for (const bool isFolder : {false, true}) {
        if (isFolder) {
            std::filesystem::create_directory(path);
        }
        kv::test::writeFile(isFolder ? path + "/inside" : path, "old run\n");
        const int64_t written = kv::platform::fileModificationTime(path);
        ASSERT_GT(written, 0);
        kv::portal::renewLogFile(path, written + 432000);
        EXPECT_TRUE(std::filesystem::exists(path)) << "exactly five days old stays";
        kv::portal::renewLogFile(path, written + 432001);
        EXPECT_FALSE(std::filesystem::exists(path)) << isFolder;
    }
    std::filesystem::create_symlink(folder.file("nowhere"), path);
    kv::portal::renewLogFile(path, 4000000000);
    EXPECT_TRUE(std::filesystem::is_symlink(path));
}

TEST(InterfaceDefaults, ScaleAndMainWindowFollowTheDesktopResolution) {
    EXPECT_FLOAT_EQ(kv::portal::scaleForDpi(144), 1.5f);
    kv::portal::setScaleFromDesktop();
    EXPECT_FLOAT_EQ(kv::portal::uiScale(), 2.0f);
    EXPECT_EQ(kv::portal::scaled(640), 1280);
    kv::portal::Manager manager;
    kv::portal::Window* window =
        kv::portal::Window::showMainWindow(nullptr, manager.core(), &manager);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->size(), QSize(1280, 960));
    delete window;
    kv::portal::setUiScale(1.0f);
}

} // namespace

int main(int argc, char** argv) {
    kv::test::ManagerEnvironment environment;
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
