#include "platform/FileTime.h"

#include "TempDir.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

using kv::platform::fileModificationTime;
using kv::test::TempDir;
using kv::test::writeFile;

TEST(FileModificationTime, IsTheSecondsSince1970OfTheLastChange) {
    TempDir dir;
    const std::string path = dir.file("KVPortal.exe");
    writeFile(path, "x");
    const timespec times[2] = {{1000000000, 0}, {1700000123, 999999999}};
    ASSERT_EQ(0, ::utimensat(AT_FDCWD, path.c_str(), times, 0));
    EXPECT_EQ(1700000123, fileModificationTime(path));
}

TEST(FileModificationTime, IsZeroWhenTheFileCannotBeExamined) {
    TempDir dir;
    EXPECT_EQ(0, fileModificationTime(dir.file("missing.exe")));
    EXPECT_EQ(0, fileModificationTime(""));
}
