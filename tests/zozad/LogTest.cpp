#include "StdoutCapture.h"
#include "TempDir.h"
#include "ru_rod.h"

#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using kv::test::readFile;
using kv::test::StdoutCapture;
using kv::test::TempDir;

namespace {

const std::string kStamp = "[0-2][0-9]:[0-5][0-9]:[0-6][0-9]  ";

// Runs the body with the standard output on a pseudo-terminal and returns what it showed.
template <typename Body>
std::string onTerminal(Body body) {
    int master = -1;
    int slave = -1;
    EXPECT_EQ(0, ::openpty(&master, &slave, nullptr, nullptr, nullptr));
    std::fflush(stdout);
    const int saved = ::dup(STDOUT_FILENO);
    ::dup2(slave, STDOUT_FILENO);
    ru_rod::enableConsoleColours();
    body();
    std::fflush(stdout);
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);
    ru_rod::enableConsoleColours();
    ::close(slave);
    std::string shown;
    char chunk[4096];
    ssize_t got;
    while ((got = ::read(master, chunk, sizeof(chunk))) > 0) {
        shown.append(chunk, static_cast<size_t>(got));
    }
    ::close(master);
    return shown;
}

} // namespace

TEST(LogConsole, EachLevelHasItsColourResetAfterItsLineFeed) {
    for (const auto& [level, colour] : {std::pair{6, "32"}, {3, "31"}, {4, "33"}, {7, "35"}}) {
        const std::string shown = onTerminal(
            [level = level] { ru_rod::logMessage(level, "a.cpp", 1, "Downloading %s...\n", "x"); });
        // The terminal turns "\n" into "\r\n".
        EXPECT_TRUE(
            std::regex_match(shown, std::regex(kStamp + "\x1b\\[" + colour +
                                               "m\x1b\\[1mDownloading x\\.\\.\\.\r\n\x1b\\[0m")))
            << shown;
    }
}

// Levels above 7 are not logged; category lines name where they come from, in the file
// without a stamp; a redirected console carries no escape sequences.
TEST(LogFile, AppendsTheLinesTheRedirectedConsoleShowsWithoutColour) {
    TempDir dir;
    kv::test::writeFile(dir.file("log.txt"), "earlier\n");
    ASSERT_EQ(0, ru_rod::openLogFile(dir.file("log.txt").c_str(), false));
    StdoutCapture capture;
    ru_rod::enableConsoleColours();
    ru_rod::logMessage(6, "a.cpp", 1, "Downloading %s...\n", "http://h/p");
    ru_rod::logMessage(8, "a.cpp", 1, "hidden\n");
    ru_rod::logCategoryMessage("zeroconf_category", 9, "a.cpp", 1, "hidden\n");
    ru_rod::logCategoryMessage("zeroconf_category", 3, "bonjour_browser.cpp", 77, "oops %d\n", 5);
    ru_rod::logCategoryMessage(nullptr, 3, "b.cpp", 8, "plain\n");
    const std::string downloading = "Downloading http://h/p\\.\\.\\.\n";
    const std::string category = "In bonjour_browser\\.cpp, line 77:  zeroconf_category: oops 5\n";
    const std::string plain = "In b\\.cpp, line 8: plain\n";
    EXPECT_TRUE(std::regex_match(readFile(dir.file("log.txt")),
                                 std::regex("earlier\n" + kStamp + downloading + category + plain)))
        << readFile(dir.file("log.txt"));
    EXPECT_TRUE(std::regex_match(
        capture.text(), std::regex(kStamp + downloading + kStamp + category + kStamp + plain)))
        << capture.text();
}

TEST(LogConsole, LongLineIsCutAndMarkedOnlyOnTheConsole) {
    TempDir dir;
    ASSERT_EQ(0, ru_rod::openLogFile(dir.file("log.txt").c_str(), true));
    StdoutCapture capture;
    ru_rod::logMessage(6, "a.cpp", 1, "%s\n", std::string(2000, 'x').c_str());
    ru_rod::logMessage(6, "a.cpp", 1, "next\n");
    // 1023 characters fit: the ten-character stamp and 1013 of the message.
    EXPECT_TRUE(std::regex_match(capture.text(),
                                 std::regex(kStamp + "x{1013}\\.\\.\\.\n" + kStamp + "next\n")));
    // No marker and no line feed in the file: the next line follows on the same line.
    EXPECT_TRUE(std::regex_match(readFile(dir.file("log.txt")),
                                 std::regex(kStamp + "x{1013}" + kStamp + "next\n")));
}

// A link planted where the log goes is refused when appending and replaced when starting over.
TEST(LogFile, NeverWritesThroughASymbolicLinkAndTellsWhyItCannotOpen) {
    TempDir dir;
    kv::test::writeFile(dir.file("victim"), "keep\n");
    std::filesystem::create_symlink(dir.file("victim"), dir.file("log.txt"));
    const std::string missing = dir.file("missing/log.txt");
    StdoutCapture capture;
    EXPECT_EQ(-1, ru_rod::openLogFile(missing.c_str(), false));
    EXPECT_TRUE(
        std::regex_match(capture.text(), std::regex(kStamp + "failed to create file: " + missing +
                                                    " \\(No such file or directory\\)\n")))
        << capture.text();
    EXPECT_EQ(-1, ru_rod::openLogFile(dir.file("log.txt").c_str(), false));
    EXPECT_EQ(0, ru_rod::openLogFile(dir.file("log.txt").c_str(), true));
    ru_rod::logMessage(6, "a.cpp", 1, "written\n");
    EXPECT_EQ("keep\n", readFile(dir.file("victim")));
    EXPECT_TRUE(std::regex_match(readFile(dir.file("log.txt")), std::regex(kStamp + "written\n")));
}

TEST(LogConcurrency, LinesOfManyThreadsNeverMix) {
    TempDir dir;
    ASSERT_EQ(0, ru_rod::openLogFile(dir.file("log.txt").c_str(), true));
    StdoutCapture capture;
    constexpr int kThreads = 8;
    constexpr int kLines = 300;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            const std::string filler(40 + t * 20, static_cast<char>('a' + t));
            for (int i = 0; i < kLines; ++i) {
                ru_rod::logMessage(6, "a.cpp", 1, "thread %d line %d %s\n", t, i, filler.c_str());
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    const std::regex line(kStamp + "thread ([0-7]) line [0-9]+ ([a-h]+)");
    for (const std::string& text : {capture.text(), readFile(dir.file("log.txt"))}) {
        std::istringstream lines(text);
        std::string entry;
        int count = 0;
        while (std::getline(lines, entry)) {
            std::smatch match;
            ASSERT_TRUE(std::regex_match(entry, match, line)) << entry;
            const int t = std::stoi(match[1]);
            EXPECT_EQ(std::string(40 + t * 20, static_cast<char>('a' + t)), match[2].str());
            ++count;
        }
        EXPECT_EQ(kThreads * kLines, count);
    }
}
