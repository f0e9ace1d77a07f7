#include "platform/FileVersion.h"

#include "TempDir.h"
#include "platform/PeImage.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

using kv::platform::isPeFile;
using kv::platform::readFileVersion;
using kv::test::readFile;
using kv::test::TempDir;
using kv::test::writeFile;

namespace {

const std::string kSignature("\xBD\x04\xEF\xFE", 4);

std::string peFile(const std::string& name) {
    return std::string(KV_TEST_PE_DIR) + "/" + name;
}

uint32_t get(const std::string& bytes, size_t at, size_t width = 4) {
    uint32_t value = 0;
    for (size_t index = width; index-- > 0;) {
        value = value << 8 | static_cast<uint8_t>(bytes.at(at + index));
    }
    return value;
}

void put(std::string& bytes, size_t at, uint32_t value, size_t width) {
    for (size_t index = 0; index < width; ++index) {
        bytes.at(at + index) = static_cast<char>((value >> (8 * index)) & 0xFF);
    }
}

std::string versionOf(const std::string& path) {
    const auto version = readFileVersion(path);
    return version ? std::to_string(version->major) + "." + std::to_string(version->minor) + "." +
                         std::to_string(version->revision) + "." + std::to_string(version->build)
                   : "none";
}

} // namespace

// The file version, not the product version, of 64- and 32-bit programs and libraries; each
// word split into its two 16-bit parts.
TEST(FileVersionOfRealExecutables, IsTheFixedFileVersionOfTheVersionResource) {
    EXPECT_EQ("4.3.2.1", versionOf(peFile("application.exe")));
    EXPECT_EQ("65535.0.513.40000", versionOf(peFile("library.dll")));
    EXPECT_EQ("1.2.3.4", versionOf(peFile("legacy.exe")));
    EXPECT_EQ("none", versionOf(peFile("unversioned.exe")));
    for (const char* name : {"unversioned.exe", "library.dll", "legacy.exe"}) {
        EXPECT_TRUE(isPeFile(peFile(name))) << name;
    }
}

TEST(FileVersionOfOtherFiles, FilesThatAreNotPeFilesHaveNoVersion) {
    TempDir dir;
    writeFile(dir.file("empty"), "");
    writeFile(dir.file("text"), "Kelmora Technologies\n");
    writeFile(dir.file("dos"), "MZ" + std::string(62, '\0'));
    ASSERT_EQ(0, ::mkfifo(dir.file("fifo").c_str(), 0600));
    for (const std::string& path :
         {dir.file("empty"), dir.file("text"), dir.file("dos"), dir.file("fifo"),
          dir.file("missing"), dir.path(), std::string("/proc/self/exe")}) {
        EXPECT_FALSE(isPeFile(path)) << path;
        EXPECT_EQ("none", versionOf(path)) << path;
    }
}

TEST(FileVersionOfDamagedFiles, EveryTruncationEitherHasNoVersionOrTheWholeVersion) {
    const std::string whole = readFile(peFile("application.exe"));
    const size_t signature = whole.find(kSignature);
    ASSERT_NE(std::string::npos, signature);
    TempDir dir;
    const std::string path = dir.file("truncated.exe");
    writeFile(path, whole);
    // Cut one byte after the other: once the version is lost it must stay lost.
    bool lost = false;
    for (size_t length = whole.size(); length-- > 0;) {
        std::filesystem::resize_file(path, length);
        const std::string version = versionOf(path);
        lost = lost || length < signature + 16 || version == "none";
        EXPECT_EQ(lost ? "none" : "4.3.2.1", version) << length;
    }
}

TEST(FileVersionOfDamagedFiles, HostileFieldsNeverLeadOutsideTheFile) {
    const std::string original = readFile(peFile("library.dll"));
    const size_t pe = get(original, 0x3C);
    const size_t optional = pe + 24;
    ASSERT_EQ(0x20Bu, get(original, optional, 2));
    const size_t sections = optional + get(original, pe + 20, 2);
    size_t resourceSection = 0;
    for (size_t index = 0; index < get(original, pe + 6, 2); ++index) {
        if (original.compare(sections + index * 40, 6, ".rsrc\0", 6) == 0) {
            resourceSection = sections + index * 40;
        }
    }
    ASSERT_NE(0u, resourceSection);
    const size_t root = get(original, resourceSection + 20);
    // The resource tree of a file with one version resource: type, name, language, data. Every
    // damage below loses the version, so one that missed its field fails.
    const size_t fixedInfo = original.find(kSignature);
    const size_t block = fixedInfo - 40;
    const uint32_t size = static_cast<uint32_t>(original.size());

    struct Damage {
        const char* what;
        size_t at;
        uint32_t value;
        size_t width;
        bool stillPe;
    };
    const std::vector<Damage> damages = {
        {"no MZ mark", 0, 'X', 1, false},
        {"PE header beyond the end", 0x3C, 0xFFFFFFF0, 4, false},
        {"PE header in the last bytes", 0x3C, size - 2, 4, false},
        {"section table beyond the end", pe + 6, 0xFFFF, 2, false},
        {"optional header beyond the end", pe + 20, 0xFFFF, 2, false},
        {"optional header too short for its directories", pe + 20, 90, 2, false},
        {"unknown optional header kind", optional, 0x107, 2, false},
        {"no resource directory", optional + 108, 2, 4, true},
        {"resources outside every section", optional + 128, 0xFFFFFFF0, 4, true},
        {"section data beyond the end", resourceSection + 20, 0xFFFFFF00, 4, true},
        {"root claims every possible entry", root + 12, 0xFFFFFFFF, 4, true},
        {"type directory beyond the section", root + 0x14, 0xFFFFFFFF, 4, true},
        {"type directory is the root again", root + 0x14, 0x80000000, 4, true},
        {"language entry leads back to the root", root + 0x44, 0x80000000, 4, true},
        {"data entry beyond the section", root + 0x44, 0x7FFFFFF0, 4, true},
        {"version data beyond the end", root + 0x48, 0xFFFFFFF0, 4, true},
        {"version data larger than its section", root + 0x4C, 0x7FFFFFF0, 4, true},
        {"version block too short for its fixed information", block, 8, 2, true},
        {"empty fixed information", block + 2, 0, 2, true},
        {"wrong signature", fixedInfo, 0xFEEF04BC, 4, true},
    };
    TempDir dir;
    const std::string path = dir.file("damaged.dll");
    writeFile(path, original);
    EXPECT_EQ("65535.0.513.40000", versionOf(path));
    for (const Damage& damage : damages) {
        SCOPED_TRACE(damage.what);
        std::string bytes = original;
        put(bytes, damage.at, damage.value, damage.width);
        writeFile(path, bytes);
        EXPECT_EQ(damage.stillPe, isPeFile(path));
        EXPECT_FALSE(readFileVersion(path).has_value());
    }
}
