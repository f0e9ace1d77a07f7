#include "CoreTestEnvironment.h"
#include "RecordingListener.h"
#include "TempDir.h"
#include "core/Core.h"
#include "core/download/Downloads.h"
#include "core/download/Md5.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

using namespace kv::portal;

namespace {

std::string md5Of(const std::string& text) {
    Md5 md5;
    md5.update(text.data(), text.size());
    md5.finalise();
    return md5.hexDigest();
}

} // namespace

TEST(Md5Digest, MatchesTheReferenceVectors) {
    EXPECT_EQ("d41d8cd98f00b204e9800998ecf8427e", md5Of(""));
    EXPECT_EQ("0cc175b9c0f1b6a831c399e269772661", md5Of("a"));
    EXPECT_EQ("900150983cd24fb0d6963f7d28e17f72", md5Of("abc"));
    EXPECT_EQ("f96b697d7cb7938d525a2f31aaf161d0", md5Of("message digest"));
    EXPECT_EQ(
        "57edf4a22be3c955ac49da2e2107b67a",
        md5Of("12345678901234567890123456789012345678901234567890123456789012345678901234567890"));
}

TEST(Md5Digest, PiecesGiveTheSameDigestAsTheWhole) {
    std::string text;
    for (int i = 0; i < 5000; ++i) {
        text += static_cast<char>(i * 7);
    }
    Md5 pieces;
    for (size_t at = 0, step = 1; at < text.size(); at += step, step = step * 3 % 200 + 1) {
        pieces.update(text.data() + at, std::min(step, text.size() - at));
    }
    pieces.finalise();
    EXPECT_EQ(md5Of(text), pieces.hexDigest());
}

TEST(Md5Digest, UnfinishedDigestHasNoText) {
    Md5 md5;
    md5.update("abc", 3);
    EXPECT_EQ("", md5.hexDigest());
}

TEST(Md5File, HashesLargeFilesAndReportsMissingOnes) {
    kv::test::TempDir dir;
    std::string content(3 * 1024 * 1024 + 17, 'k');
    kv::test::writeFile(dir.file("big"), content);
    EXPECT_EQ(md5Of(content), Downloads::md5File(dir.file("big")));
    EXPECT_EQ("?", Downloads::md5File(dir.file("missing")));
}

class PackageVerification : public ::testing::Test {
protected:
    PackageVerification() {
        core.addProduct(code::PELRA_FIRMWARE, "pelra", "", Version(1, 0, 0, 0));
        product = core.findProduct("pelra");
        core.addListener(&listener);
    }
    ~PackageVerification() override { core.removeListener(&listener); }

    void publish(const std::string& md5) {
        auto cloud = std::make_shared<Product::Cloud>();
        cloud->version = Version(2, 0, 0, 0);
        cloud->fileName = "pelra.bin";
        cloud->md5 = md5;
        product->cloud.set(cloud);
    }

    kv::test::CoreTestEnvironment environment;
    Core core;
    ProductPtr product;
    kv::test::RecordingListener listener;
};

TEST_F(PackageVerification, MatchingDigestVerifiesOnceAndIsRemembered) {
    publish(md5Of("image"));
    kv::test::writeFile(core.downloadPath(product, true), "image");
    EXPECT_TRUE(core.isDownloaded(product));
    EXPECT_EQ("OK", product->cloud.get()->md5);
    EXPECT_EQ(std::vector<std::string>{"status pelra Verifying file md5"}, listener.events());
    listener.clear();
    kv::test::writeFile(core.downloadPath(product, true), "changed later");
    EXPECT_TRUE(core.isDownloaded(product));
    EXPECT_TRUE(listener.events().empty());
}

TEST_F(PackageVerification, MismatchAndUpperCaseDigestFail) {
    publish(md5Of("other"));
    kv::test::writeFile(core.downloadPath(product, true), "image");
    EXPECT_FALSE(core.isDownloaded(product));
    std::string upper = md5Of("image");
    for (char& c : upper) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    publish(upper);
    EXPECT_FALSE(core.verifyDownload(product));
}

// "?" is what hashing answers for a file it cannot read: a catalogue giving it must not pass
// off a missing package, or a folder in its place, as verified.
TEST_F(PackageVerification, UnreadablePackageNeverVerifies) {
    publish("?");
    EXPECT_FALSE(core.verifyDownload(product));
    std::filesystem::create_directories(core.downloadPath(product, true));
    EXPECT_FALSE(core.isDownloaded(product));
    EXPECT_EQ("?", product->cloud.get()->md5);
}

TEST_F(PackageVerification, ReleaseWithoutDigestVerifiesTrivially) {
    publish("");
    EXPECT_TRUE(core.verifyDownload(product));
    EXPECT_FALSE(core.isDownloaded(product));
    kv::test::writeFile(core.downloadPath(product, true), "anything");
    EXPECT_TRUE(core.isDownloaded(product));
}

TEST_F(PackageVerification, PackageBeingDownloadedIsNotDownloaded) {
    publish(md5Of("image"));
    kv::test::writeFile(core.downloadPath(product, true), "image");
    core.setStatus(product, Downloading);
    EXPECT_FALSE(core.isDownloaded(product));
}
