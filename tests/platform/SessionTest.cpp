#include "ScopedEnv.h"
#include "TempDir.h"
#include "Unavailable.h"
#include "platform/Display.h"
#include "platform/RuntimeFolder.h"
#include "platform/SessionBlock.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

using namespace kv::platform;
using kv::test::ScopedEnv;
using kv::test::TempDir;
using kv::test::writeFile;

namespace {

const uid_t kOtherUser = 65534;

unsigned modeOf(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
}

class Session : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0) {
            return kv::test::unavailable("staging another user's files needs root");
        }
    }

    std::string runtimeFolder(mode_t mode) {
        const std::string folder = dir_.file("run");
        std::filesystem::create_directory(folder);
        ::chmod(folder.c_str(), mode);
        return folder;
    }
    std::string fallback() const {
        return dir_.file("tmp") + "/kvportal-" + std::to_string(::geteuid());
    }

    TempDir dir_;
    ScopedEnv temporary_{"TMPDIR", dir_.file("tmp").c_str()};
    ScopedEnv runtime_{"XDG_RUNTIME_DIR", nullptr};
};

} // namespace

TEST_F(Session, RuntimeFolderIsOneOnlyThisUserCanWriteTo) {
    std::filesystem::create_directory(dir_.file("tmp"));
    struct Case {
        const char* runtime;
        mode_t mode;
        bool runtimeChosen;
    } const cases[] = {
        {"own", 0700, true},
        {"own", 0755, true},
        {"group-writable", 0770, false},
        {"world-writable", 0703, false},
        {"relative", 0700, false},
        {"unset", 0700, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.runtime);
        const std::string folder = runtimeFolder(c.mode);
        const std::string given = std::string(c.runtime) == "relative" ? "run" : folder;
        ScopedEnv runtime("XDG_RUNTIME_DIR",
                          std::string(c.runtime) == "unset" ? nullptr : given.c_str());
        EXPECT_EQ(c.runtimeChosen ? folder : fallback(), userRuntimeFolder());
        EXPECT_EQ(c.runtimeChosen ? 0u : 0700u, modeOf(fallback()));
        std::filesystem::remove(fallback());
    }

    // A link in the fallback's place, or a folder someone else made there, is not used.
    std::filesystem::create_directory_symlink(dir_.path(), fallback());
    EXPECT_EQ(std::nullopt, userRuntimeFolder());
    std::filesystem::remove(fallback());
    std::filesystem::create_directory(fallback());
    ASSERT_EQ(0, ::chown(fallback().c_str(), kOtherUser, kOtherUser));
    EXPECT_EQ(std::nullopt, userRuntimeFolder());
    SessionBlock block("kv-block", 64);
    EXPECT_FALSE(block.isAttached());
    EXPECT_EQ(nullptr, block.data());
    EXPECT_EQ("no runtime folder of the user's own", block.failure());
    EXPECT_FALSE(block.lock() || block.unlock() || block.joinAndFindOthers());
}

TEST_F(Session, BlockIsSharedByItsHoldersWhoSeeEachOther) {
    const std::string folder = runtimeFolder(0700);
    ScopedEnv runtime("XDG_RUNTIME_DIR", folder.c_str());
    // Files left by another user, or open to others: replaced, never used.
    for (const auto& [name, mode, owner] :
         {std::tuple{"kv-foreign", 0600, kOtherUser}, {"kv-loose", 0604, ::geteuid()}}) {
        const std::string path = folder + "/" + name;
        writeFile(path, "foreign");
        ASSERT_EQ(0, ::chmod(path.c_str(), mode));
        ASSERT_EQ(0, ::chown(path.c_str(), owner, 0));
        SessionBlock block(name, 4);
        ASSERT_TRUE(block.isAttached()) << block.failure();
        EXPECT_EQ(std::string(4, '\0'), std::string(static_cast<char*>(block.data()), 4));
    }

    auto first = std::make_unique<SessionBlock>("kv-block", 64);
    ASSERT_TRUE(first->isAttached()) << first->failure();
    EXPECT_EQ(0600u, modeOf(folder + "/kv-block"));
    ASSERT_TRUE(first->lock());
    EXPECT_FALSE(first->joinAndFindOthers());
    std::strcpy(static_cast<char*>(first->data()), "count 1");
    EXPECT_TRUE(first->unlock());

    SessionBlock second("kv-block", 64);
    ASSERT_TRUE(second.isAttached());
    EXPECT_STREQ("count 1", static_cast<char*>(second.data()));
    EXPECT_TRUE(second.joinAndFindOthers());
    first.reset();
    SessionBlock third("kv-block", 64);
    EXPECT_TRUE(third.joinAndFindOthers());
}

TEST(Display, IsAvailableWhenX11OrWaylandNamesOne) {
    struct Case {
        const char* x11;
        const char* wayland;
        bool available;
    } const cases[] = {{nullptr, nullptr, false},
                       {"", "", false},
                       {":0", nullptr, true},
                       {nullptr, "wayland-0", true},
                       {"", "wayland-0", true}};
    for (const Case& c : cases) {
        ScopedEnv x11("DISPLAY", c.x11);
        ScopedEnv wayland("WAYLAND_DISPLAY", c.wayland);
        EXPECT_EQ(c.available, displayAvailable())
            << (c.x11 ? c.x11 : "-") << " " << (c.wayland ? c.wayland : "-");
    }
    ScopedEnv platform("QT_QPA_PLATFORM", "xcb");
    useOffscreenDisplay();
    EXPECT_STREQ("offscreen", std::getenv("QT_QPA_PLATFORM"));
}
