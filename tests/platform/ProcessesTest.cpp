#include "platform/Processes.h"

#include "TempDir.h"
#include "platform/ProgramLocation.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

using namespace kv::platform;
using kv::test::TempDir;

namespace {

constexpr auto kDeadline = std::chrono::seconds(20);

std::string linkTarget(const std::string& path) {
    std::error_code error;
    return std::filesystem::read_symlink(path, error).string();
}

} // namespace

TEST(Processes, DetachedProgramIsFoundByItsFileEvenReplacedAndWaitedForToTheEnd) {
    TempDir dir;
    const std::string sleeper = dir.file("sleeper");
    std::filesystem::copy_file("/bin/sleep", sleeper);
    const int pid = startDetached(sleeper, {"60"});
    ASSERT_GT(pid, 0);
    EXPECT_EQ(pid, ::getsid(pid));
    for (const char* stream : {"0", "1", "2"}) {
        EXPECT_EQ("/dev/null", linkTarget("/proc/" + std::to_string(pid) + "/fd/" + stream));
    }
    EXPECT_EQ(std::vector<int>{pid}, processesOfExecutable(sleeper));
    EXPECT_EQ(std::vector<int>{pid}, processesOfExecutable(dir.path() + "/./sleeper"));
    // An update replaces the file while the old program runs.
    std::filesystem::remove(sleeper);
    std::filesystem::copy_file("/bin/sleep", sleeper);
    EXPECT_EQ(std::vector<int>{pid}, processesOfExecutable(sleeper));
    EXPECT_TRUE(processesOfExecutable("/bin/true").empty());

    EXPECT_FALSE(waitForProcessEnd(pid, std::chrono::milliseconds(0)));
    ASSERT_EQ(0, ::kill(pid, SIGKILL));
    EXPECT_TRUE(waitForProcessEnd(pid, kDeadline));
    ASSERT_EQ(pid, ::waitpid(pid, nullptr, 0));
    EXPECT_TRUE(waitForProcessEnd(pid, std::chrono::milliseconds(0)));
    EXPECT_TRUE(processesOfExecutable(sleeper).empty());
}

TEST(Processes, OwnProgramIsLeftOutAndAMissingProgramDoesNotStart) {
    EXPECT_EQ(linkTarget("/proc/self/exe"), programPath());
    EXPECT_TRUE(processesOfExecutable(programPath()).empty());
    EXPECT_EQ(-1, startDetached("/nonexistent/kvportal", {}));
    // In the build tree the helpers lie beside the program.
    EXPECT_EQ(std::filesystem::path(programPath()).parent_path().string(), helperFolder());
}
