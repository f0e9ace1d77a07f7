#include "CoreTestEnvironment.h"
#include "RecordingListener.h"
#include "TempDir.h"
#include "core/Core.h"
#include "core/download/DownloadQueue.h"
#include "core/download/Md5.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

using namespace kv::portal;

namespace {

std::string md5Of(const std::string& text) {
    Md5 md5;
    md5.update(text.data(), text.size());
    md5.finalise();
    return md5.hexDigest();
}

// Bytes that differ from their neighbours, so that a piece taken from the wrong place shows.
std::string varied(size_t size) {
    std::string text;
    for (size_t i = 0; i < size; ++i) {
        text += static_cast<char>(i * 7);
    }
    return text;
}

} // namespace

// Each reference vector fed whole and in uneven pieces; no text before the digest is final.
TEST(Md5Digest, MatchesTheReferenceVectorsWholeOrInPieces) {
    const std::pair<std::string, const char*> vectors[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
        {varied(5000), "a639f24b2f2ecd1457eec6a7af942894"},
    };
    for (const auto& [text, digest] : vectors) {
        EXPECT_EQ(md5Of(text), digest);
        Md5 pieces;
        for (size_t at = 0, step = 1; at < text.size(); at += step, step = step * 3 % 200 + 1) {
            pieces.update(text.data() + at, std::min(step, text.size() - at));
            EXPECT_EQ(pieces.hexDigest(), "");
        }
        pieces.finalise();
        EXPECT_EQ(pieces.hexDigest(), digest);
    }
}

TEST(Md5File, HashesLargeFilesAndReportsMissingOnes) {
    kv::test::TempDir dir;
    std::string content(3 * 1024 * 1024 + 17, 'k');
    kv::test::writeFile(dir.file("big"), content);
    EXPECT_EQ(md5Of(content), DownloadQueue::md5File(dir.file("big")));
    EXPECT_EQ("?", DownloadQueue::md5File(dir.file("missing")));
}

class PackageVerification : public ::testing::Test {
protected:
    PackageVerification() {
        core.addProduct(code::PELRA_FIRMWARE, "pelra", "", Version(1, 0, 0, 0));
        product = core.findProduct("pelra");
        core.addListener(&listener);
    }
    ~PackageVerification() override { core.removeListener(&listener); }

    // A new release record, as every sync gives one.
    static void publish(const ProductPtr& to, const std::string& md5) {
        auto cloud = std::make_shared<Product::Cloud>();
        cloud->version = Version(2, 0, 0, 0);
        cloud->fileName = "pelra.bin";
        cloud->md5 = md5;
        to->cloud.set(cloud);
    }
    void publish(const std::string& md5) { publish(product, md5); }

    size_t hashes() const {
        const std::vector<std::string> events = listener.events();
        return static_cast<size_t>(std::count_if(events.begin(), events.end(), [](auto& event) {
            return event.find("Verifying file md5") != std::string::npos;
        }));
    }

    // From a settled status, so that a hash shows as a change to "Verifying file md5".
    bool settledIsDownloaded() {
        core.setStatus(product, ReadyToDownload);
        return core.isDownloaded(product);
    }

    std::string package() const { return core.downloadPath(product, true); }
    std::string digestsFile() const { return environment.downloadsDir() + "/package-digests.txt"; }

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

// Every sync verifies every product's package: one never downloaded reads nothing.
TEST_F(PackageVerification, MissingPackageFailsWithoutVerifying) {
    publish(md5Of("image"));
    EXPECT_FALSE(core.verifyDownload(product));
    EXPECT_EQ(0u, hashes());
}

TEST_F(PackageVerification, PackageBeingDownloadedIsNotDownloaded) {
    publish(md5Of("image"));
    kv::test::writeFile(core.downloadPath(product, true), "image");
    core.setStatus(product, Downloading);
    EXPECT_FALSE(core.isDownloaded(product));
}

// Raises the second product's evaluation from inside the first one's hashing, so that both
// ask for the one package at the same moment.
class EvaluatesAlongside : public kv::test::RecordingListener {
public:
    ProductPtr other;
    std::thread alongside;
    void statusChanged(Core* core, const char* productName) override {
        RecordingListener::statusChanged(core, productName);
        if (other && !alongside.joinable() && other->name != productName) {
            alongside = std::thread([core, product = other] { core->isDownloaded(product); });
        }
    }
};

TEST_F(PackageVerification, SharedPackageIsHashedOnceAlsoAtTheSameMoment) {
    core.addProduct(code::PELRA_FIRMWARE, "pelra 2", "", Version(1, 0, 0, 0));
    const ProductPtr second = core.findProduct("pelra 2");
    const std::string image(8 * 1024 * 1024, 'p');
    publish(md5Of(image));
    publish(second, md5Of(image));
    kv::test::writeFile(package(), image);
    EvaluatesAlongside alongside;
    alongside.other = second;
    core.addListener(&alongside);
    EXPECT_TRUE(core.isDownloaded(product));
    alongside.alongside.join();
    core.removeListener(&alongside);
    EXPECT_EQ("OK", second->cloud.get()->md5);
    EXPECT_EQ(1u, hashes());
    publish(md5Of(image));
    publish(second, md5Of(image));
    EXPECT_TRUE(core.isDownloaded(product));
    EXPECT_TRUE(core.isDownloaded(second));
    EXPECT_EQ(1u, hashes());
}

TEST_F(PackageVerification, ChangedOrReplacedPackageIsHashedAgain) {
    const std::string replacement = package() + ".other";
    const struct {
        const char* change;
        std::function<void(const std::string&)> apply;
    } changes[] = {
        {"rewritten longer",
         [&](const std::string& text) { kv::test::writeFile(package(), text); }},
        {"replaced by rename",
         [&](const std::string& text) {
             kv::test::writeFile(replacement, text);
             std::rename(replacement.c_str(), package().c_str());
         }},
    };
    std::string image = "image";
    publish(md5Of(image));
    kv::test::writeFile(package(), image);
    ASSERT_TRUE(settledIsDownloaded());
    for (const auto& change : changes) {
        SCOPED_TRACE(change.change);
        listener.clear();
        image += " again";
        change.apply(image);
        publish(md5Of(image));
        EXPECT_TRUE(settledIsDownloaded());
        EXPECT_EQ(1u, hashes());
        change.apply(image + "X");
        publish(md5Of(image));
        EXPECT_FALSE(settledIsDownloaded());
        EXPECT_EQ(2u, hashes());
    }
}

TEST_F(PackageVerification, SecondStartHashesNothingAndDamagedMemoryIsRewritten) {
    publish(md5Of("image"));
    kv::test::writeFile(package(), "image");
    ASSERT_TRUE(core.isDownloaded(product));
    const std::string remembered = kv::test::readFile(digestsFile());
    const char* const damaged[] = {
        nullptr,
        "not a digest file\n",
        "KVPortal package digests 1\nd41d8cd98f00b204e9800998ecf8427e twelve\n",
    };
    for (const char* content : damaged) {
        SCOPED_TRACE(content ? content : "as written");
        if (content) {
            kv::test::writeFile(digestsFile(), content);
        }
        listener.clear();
        auto again = std::make_unique<Core>();
        again->addProduct(code::PELRA_FIRMWARE, "pelra", "", Version(1, 0, 0, 0));
        const ProductPtr restarted = again->findProduct("pelra");
        publish(restarted, md5Of("image"));
        again->addListener(&listener);
        EXPECT_TRUE(again->isDownloaded(restarted));
        again->removeListener(&listener);
        EXPECT_EQ(content ? 1u : 0u, hashes());
        EXPECT_EQ(remembered, kv::test::readFile(digestsFile()));
    }
}
