#include "platform/FileOpening.h"

#include "TempDir.h"
#include "platform/FileIdentity.h"
#include "platform/FileTime.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <string>

using namespace kv::platform;
using kv::test::readFile;
using kv::test::TempDir;
using kv::test::writeFile;

namespace {

enum class Entry { File, Link, Fifo, Folder, Missing };

// What stands at "entry": the file holds "old", the link names "target" (which holds "target").
void plant(const TempDir& dir, Entry entry) {
    const std::string path = dir.file("entry");
    writeFile(dir.file("target"), "target");
    if (entry == Entry::File) {
        writeFile(path, "old");
    } else if (entry == Entry::Link) {
        std::filesystem::create_symlink(dir.file("target"), path);
    } else if (entry == Entry::Fifo) {
        ASSERT_EQ(0, ::mkfifo(path.c_str(), 0600));
    } else if (entry == Entry::Folder) {
        std::filesystem::create_directory(path);
    }
}

struct OpeningCase {
    const char* name;
    std::function<FilePtr(const std::string&)> open;
    Entry entry;
    int error; // 0: opened
    const char* contentAfterWriting;
};

const OpeningCase kOpenings[] = {
    {"read file", openForReading, Entry::File, 0, nullptr},
    {"read link", openForReading, Entry::Link, ELOOP, nullptr},
    {"read fifo", openForReading, Entry::Fifo, EINVAL, nullptr},
    {"read folder", openForReading, Entry::Folder, EINVAL, nullptr},
    {"read missing", openForReading, Entry::Missing, ENOENT, nullptr},
    {"append file", openForAppending, Entry::File, 0, "oldnew"},
    {"append link", openForAppending, Entry::Link, ELOOP, nullptr},
    {"append fifo", openForAppending, Entry::Fifo, EINVAL, nullptr},
    {"append folder", openForAppending, Entry::Folder, EISDIR, nullptr},
    {"append missing", openForAppending, Entry::Missing, 0, "new"},
    {"replace file", createReplacing, Entry::File, 0, "new"},
    {"replace link", createReplacing, Entry::Link, 0, "new"},
    {"replace fifo", createReplacing, Entry::Fifo, 0, "new"},
    {"replace folder", createReplacing, Entry::Folder, EISDIR, nullptr},
    {"replace missing", createReplacing, Entry::Missing, 0, "new"},
};

} // namespace

// Links and special files planted at the program's own paths are never followed or opened.
TEST(FileOpening, OpensOnlyRegularFilesAndNeverFollowsALink) {
    for (const OpeningCase& c : kOpenings) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        plant(dir, c.entry);
        errno = 0;
        FilePtr file = c.open(dir.file("entry"));
        ASSERT_EQ(c.error == 0, file != nullptr);
        if (!file) {
            EXPECT_EQ(c.error, errno);
        } else if (c.contentAfterWriting == nullptr) {
            char read[4] = "";
            EXPECT_EQ(3u, std::fread(read, 1, 3, file.get()));
            EXPECT_EQ("old", std::string(read));
        } else {
            EXPECT_EQ(3u, std::fwrite("new", 1, 3, file.get()));
            file.reset();
            EXPECT_EQ(c.contentAfterWriting, readFile(dir.file("entry")));
            EXPECT_FALSE(std::filesystem::is_symlink(dir.file("entry")));
        }
        EXPECT_EQ("target", readFile(dir.file("target")));
    }
}

TEST(FileOpening, ReplacingWholeLeavesTheNewContentOrTheOldFile) {
    TempDir dir;
    std::filesystem::create_symlink(dir.file("target"), dir.file("entry"));
    writeFile(dir.file("target"), "target");
    ASSERT_TRUE(replaceWhole(dir.file("entry"), "whole"));
    EXPECT_EQ("whole", readFile(dir.file("entry")));
    EXPECT_EQ("target", readFile(dir.file("target")));
    EXPECT_FALSE(std::filesystem::exists(dir.file("entry.new")));

    // Nowhere to write beside it.
    EXPECT_FALSE(replaceWhole(dir.file("missing/entry"), "whole"));
    // Written but not renamed: a folder holds the name.
    std::filesystem::create_directories(dir.file("folder/inside"));
    EXPECT_FALSE(replaceWhole(dir.file("folder"), "whole"));
    EXPECT_FALSE(std::filesystem::exists(dir.file("folder.new")));
}

TEST(FileOpening, PrivateFolderIsMadeForTheUserAloneAndAnExistingOneKept) {
    TempDir dir;
    const std::string folder = dir.file("a/b/private");
    ASSERT_TRUE(createPrivateFolder(folder));
    EXPECT_EQ(std::filesystem::perms::owner_all,
              std::filesystem::status(folder).permissions() & std::filesystem::perms::all);

    std::filesystem::permissions(folder, std::filesystem::perms::all);
    EXPECT_TRUE(createPrivateFolder(folder));
    EXPECT_EQ(std::filesystem::perms::all, std::filesystem::status(folder).permissions());

    writeFile(dir.file("file"), "");
    EXPECT_FALSE(createPrivateFolder(dir.file("file")));
}

TEST(FileIdentity, ChangesWithEveryRewriteOrReplacementAndOnlyThen) {
    TempDir dir;
    const std::string path = dir.file("package.zip");
    EXPECT_FALSE(fileIdentity(path).has_value());
    EXPECT_FALSE(fileIdentity(dir.path()).has_value());
    EXPECT_EQ(0, fileModificationTime(path));
    EXPECT_EQ(0, fileModificationTime(""));

    writeFile(path, "12345");
    const timespec times[2] = {{0, UTIME_OMIT}, {1700000123, 999999999}};
    ASSERT_EQ(0, ::utimensat(AT_FDCWD, path.c_str(), times, 0));
    EXPECT_EQ(1700000123, fileModificationTime(path));
    struct stat status {};
    ASSERT_EQ(0, ::stat(path.c_str(), &status));
    const auto first = fileIdentity(path);
    ASSERT_TRUE(first.has_value());
    const FileIdentity expected{5, 1700000123999999999, status.st_dev, status.st_ino,
                                status.st_ctim.tv_sec * 1000000000 + status.st_ctim.tv_nsec};
    EXPECT_EQ(expected, first);
    // Each field alone tells a change.
    for (auto field : {&FileIdentity::size, &FileIdentity::device, &FileIdentity::inode}) {
        FileIdentity other = *first;
        ++(other.*field);
        EXPECT_NE(*first, other);
    }
    for (auto field : {&FileIdentity::modifiedNs, &FileIdentity::changedNs}) {
        FileIdentity other = *first;
        ++(other.*field);
        EXPECT_NE(*first, other);
    }
}
