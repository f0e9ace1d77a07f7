#include "CoreTestEnvironment.h"
#include "RecordingListener.h"
#include "TempDir.h"
#include "core/Core.h"
#include "core/download/DownloadQueue.h"
#include "core/download/Md5.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
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

// Each reference vector fed whole and in uneven pieces; no text before the digest is final.
TEST(Md5Digest, MatchesTheReferenceVectorsWholeOrInPieces) {
    std::string varied;
    for (size_t i = 0; i < 5000; ++i) {
        varied += static_cast<char>(i * 7);
    }
    const std::pair<std::string, const char*> vectors[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
        {varied, "a639f24b2f2ecd1457eec6a7af942894"},
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
    kv::test::TempDir dir;
    const std::string content(200 * 1024 + 17, 'k');
    kv::test::writeFile(dir.file("big"), content);
    EXPECT_EQ(DownloadQueue::md5File(dir.file("big")), md5Of(content));
    EXPECT_EQ(DownloadQueue::md5File(dir.file("missing")), "?");
}

class PackageVerification : public ::testing::Test {
protected:
    PackageVerification() { core.addListener(&listener); }
    ~PackageVerification() override { core.removeListener(&listener); }

    // A product of `to` whose release gives `md5`, as every sync gives a new release record.
    static ProductPtr publish(Core& to, const std::string& name, const std::string& md5) {
        if (!to.findProduct(name)) {
            to.addProduct(code::PELRA_FIRMWARE, name, "", Version(1, 0, 0, 0));
        }
        const ProductPtr product = to.findProduct(name);
        auto cloud = std::make_shared<Product::Cloud>();
        cloud->version = Version(2, 0, 0, 0);
        cloud->fileName = "pelra.bin";
        cloud->md5 = md5;
        product->cloud.set(cloud);
        return product;
    }
    int hashes() const {
        return listener.count("status pelra Verifying file md5") +
               listener.count("status pelra 2 Verifying file md5");
    }
    std::string package() const { return environment.downloadsDir() + "/Firmware/pelra.bin"; }

    kv::test::CoreTestEnvironment environment;
    Core core;
    kv::test::RecordingListener listener;
};

// "?" is what hashing answers for a file it cannot read: a catalogue giving it must not pass
// off a missing package, or a folder in its place, as verified. A package being downloaded is
// not downloaded yet.
TEST_F(PackageVerification, PackageIsDownloadedWhenItsDigestMatches) {
    std::string upper = md5Of("image");
    std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
    const struct {
        std::string md5;
        const char* package;
        Status status;
        bool downloaded;
        int hashes;
    } cases[] = {
        {md5Of("image"), "image", ReadyToDownload, true, 1},
        {md5Of("other"), "image", ReadyToDownload, false, 1},
        {upper, "image", ReadyToDownload, false, 1},
        {md5Of("image"), "image", Downloading, false, 0},
        {md5Of("image"), nullptr, ReadyToDownload, false, 0},
        {"?", nullptr, ReadyToDownload, false, 0},
        {"?", "/", ReadyToDownload, false, 0},
        {"", nullptr, ReadyToDownload, false, 0},
        {"", "anything", ReadyToDownload, true, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.md5 + " " + (c.package ? c.package : "none"));
        std::filesystem::remove_all(package());
        if (c.package && *c.package == '/') {
            std::filesystem::create_directories(package());
        } else if (c.package != nullptr) {
            kv::test::writeFile(package(), c.package);
        }
        const ProductPtr product = publish(core, "pelra", c.md5);
        core.setStatus(product, c.status);
        listener.clear();
        EXPECT_EQ(core.isDownloaded(product), c.downloaded);
        EXPECT_EQ(hashes(), c.hashes);
        EXPECT_EQ(product->cloud.get()->md5, c.downloaded && c.hashes ? "OK" : c.md5);
    }
}

// Raises the second product's evaluation from inside the first one's hashing, so that both
// ask for the one package at the same moment: it is hashed once.
TEST_F(PackageVerification, SharedPackageIsHashedOnceAlsoAtTheSameMoment) {
    const std::string image(8 * 1024 * 1024, 'p');
    kv::test::writeFile(package(), image);
    const ProductPtr first = publish(core, "pelra", md5Of(image));
    const ProductPtr second = publish(core, "pelra 2", md5Of(image));
    struct Alongside : kv::test::RecordingListener {
        ProductPtr other;
        std::thread thread;
        void statusChanged(Core* core, const char* name) override {
            if (!thread.joinable() && other->name != name) {
                thread = std::thread([core, product = other] { core->isDownloaded(product); });
            }
        }
    } alongside;
    alongside.other = second;
    core.addListener(&alongside);
    EXPECT_TRUE(core.isDownloaded(first));
    alongside.thread.join();
    core.removeListener(&alongside);
    EXPECT_EQ(second->cloud.get()->md5, "OK");
    publish(core, "pelra", md5Of(image));
    publish(core, "pelra 2", md5Of(image));
    EXPECT_TRUE(core.isDownloaded(first));
    EXPECT_TRUE(core.isDownloaded(second));
    EXPECT_EQ(hashes(), 1);
}

// The digests are remembered across starts; a damaged memory is ignored and written anew.
TEST_F(PackageVerification, SecondStartHashesNothingAndDamagedMemoryIsRewritten) {
    kv::test::writeFile(package(), "image");
    ASSERT_TRUE(core.isDownloaded(publish(core, "pelra", md5Of("image"))));
    const std::string digests = environment.downloadsDir() + "/package-digests.txt";
    const std::string remembered = kv::test::readFile(digests);
    for (const char* damaged :
         {"", "not a digest file\n",
          "KVPortal package digests 1\nd41d8cd98f00b204e9800998ecf8427e twelve\n"}) {
        SCOPED_TRACE(damaged);
        if (*damaged) {
            kv::test::writeFile(digests, damaged);
        }
        listener.clear();
        Core again;
        const ProductPtr restarted = publish(again, "pelra", md5Of("image"));
        again.addListener(&listener);
        EXPECT_TRUE(again.isDownloaded(restarted));
        again.removeListener(&listener);
        EXPECT_EQ(hashes(), *damaged ? 1 : 0);
        EXPECT_EQ(kv::test::readFile(digests), remembered);
    }
}

} // namespace
