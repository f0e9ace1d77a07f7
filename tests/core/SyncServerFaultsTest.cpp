// The release server misbehaves: what the user is told, and that the releases the program
// already knew and its local copy of the publish file survive.

#include "StdoutCapture.h"
#include "SyncFixture.h"
#include "core/json/JsonDocument.h"
#include "core/sync/CatalogueSync.h"

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <random>

namespace {

using namespace kv::portal;
using kv::test::kFailedToContact;
using kv::test::kInvalidReply;
using kv::test::readFile;
using kv::test::writeFile;

const char kPublishFile[] =
    R"({"products":[{"ID":"KORVEX-FIRMWARE","IV":"2.1.0b40","IF":"korvex-2.1.0.img",)"
    R"("LK":"https://downloads.kelmora.example/korvex-2.1.0.img",)"
    R"("MD5":"0123456789abcdef0123456789abcdef"}]})";

constexpr size_t k50MB = 50 * 1024 * 1024;

std::string releaseOf(const ProductPtr& product) {
    const Product::CloudPtr cloud = product->cloud.get();
    return cloud ? versionText(cloud->version) + " " + cloud->fileName : "none";
}

// Replaces the session's time-outs for one test, so that a stalled server costs seconds.
class ShortTimeouts {
public:
    ShortTimeouts() { ::setenv("KVPORTAL_HTTP_TIMEOUT", "2", 1); }
    ~ShortTimeouts() { ::unsetenv("KVPORTAL_HTTP_TIMEOUT"); }
    ShortTimeouts(const ShortTimeouts&) = delete;
    ShortTimeouts& operator=(const ShortTimeouts&) = delete;
};

// A studio that synced once: its device has a release and the local copy holds the file.
class ReleaseServerFault : public kv::test::SyncTest {
protected:
    void SetUp() override {
        publish(kPublishFile);
        korvex = addProduct(code::KORVEX_FIRMWARE, "Korvex Studio A", "2.0.0b10");
        ASSERT_EQ(sync(), "");
        ASSERT_EQ(releaseOf(korvex), "2.1.0 b40 korvex-2.1.0.img");
        copy = localCopy();
        ASSERT_EQ(copy, kPublishFile);
    }

    // Syncs afresh against the server's answer at `url`; gives the message the window shows.
    std::string syncWith(const std::string& url) {
        settings->set("publish_file", url);
        core->setForceRefresh();
        return sync();
    }

    // The same, with the reply the console would echo kept out of the test's output.
    std::string quietSyncWith(const std::string& url) {
        kv::test::StdoutCapture console;
        return syncWith(url);
    }

    // The device still shows its release, and the local copy is the one from before.
    void expectNothingLost() {
        EXPECT_TRUE(core->usingLocalFile());
        EXPECT_EQ(releaseOf(korvex), "2.1.0 b40 korvex-2.1.0.img");
        EXPECT_EQ(korvex->statusText(), "Ready To Download");
        EXPECT_EQ(localCopy(), copy);
        EXPECT_FALSE(std::filesystem::exists(localCopyPath() + ".new"));
    }

    ProductPtr korvex;
    std::string copy;
};

// Errors, garbage, a reply cut short at 50 MB and stalled transfers: the message says which,
// and the local copy serves.
TEST_F(ReleaseServerFault, FailedRepliesLoseNothingAndTheLocalCopyServes) {
    std::string garbage(64 * 1024, '\0');
    std::mt19937 random(9);
    for (char& byte : garbage) {
        byte = static_cast<char>(random());
    }
    writeFile(releases.file("garbage.json"), garbage);
    const std::string entry = R"({"ID":"OTHER","IV":"1.0.0","IF":"other.img","LK":"x"},)";
    std::string huge = R"({"products":[)";
    while (huge.size() < k50MB) {
        huge += entry;
    }
    writeFile(releases.file("huge.json"), huge);
    struct Reply {
        std::string url;
        const char* message;
        // Waited out under short time-outs, so that a stall costs seconds.
        bool stalls;
    };
    const Reply replies[] = {
        {publishUrl("?status=500"), kFailedToContact, false},
        {server.url("/garbage.json"), kInvalidReply, false},
        {server.url("/huge.json"), kInvalidReply, false},
        {publishUrl("?stall=body"), kFailedToContact, true},
        {publishUrl("?stall=headers"), kFailedToContact, true},
    };
    for (const Reply& reply : replies) {
        std::optional<ShortTimeouts> timeouts;
        if (reply.stalls) {
            timeouts.emplace();
        }
        EXPECT_EQ(quietSyncWith(reply.url), reply.message) << reply.url;
        expectNothingLost();
    }

    stopCore();
    EXPECT_EQ(logCount("Failed(500)"), 1u);
    // The reply cut short at the size limit, and the two stalls.
    EXPECT_EQ(logCount("Failed(0)"), 3u);
}

// Well-formed publish files beyond the size or the nesting limit: the server's answer is
// refused, and the local copy serves.
TEST_F(ReleaseServerFault, PublishFileBeyondTheLimitsIsAnInvalidReplyAndTheLocalCopyServes) {
    const std::string release =
        R"({"products":[{"ID":"KORVEX-FIRMWARE","IV":"2.2.0b1","IF":"korvex-2.2.0.img",)"
        R"("LK":"x"}],"notes":)";
    const size_t depth = kMaxJsonDepth;
    writeFile(releases.file("large.json"),
              release + '"' + std::string(CatalogueSync::kPublishFileSizeLimit, 'p') + "\"}");
    writeFile(releases.file("deep.json"),
              release + std::string(depth, '[') + std::string(depth, ']') + "}");

    for (const char* path : {"/large.json", "/deep.json"}) {
        EXPECT_EQ(syncWith(server.url(path)), kInvalidReply) << path;
        expectNothingLost();
    }
    // Nor is a local copy that large read.
    std::filesystem::copy_file(releases.file("large.json"), localCopyPath(),
                               std::filesystem::copy_options::overwrite_existing);
    EXPECT_EQ(syncWith(publishUrl("?status=500")), kFailedToContact);

    stopCore();
    EXPECT_EQ(logCount("Sync: publish file refused: larger than 16777216 bytes"), 1u);
    EXPECT_EQ(
        logCount("Sync: local file " + localCopyPath() + " refused: larger than 16777216 bytes"),
        1u);
    EXPECT_EQ(logCount("Sync failed: No publish file found"), 1u);
}

// A publish file naming a package outside the package folder makes the sync hash nothing
// there: a device file such as /dev/zero would hold the sync, and every later one, for ever.
TEST_F(ReleaseServerFault, PackageNameOutsideThePackageFolderIsNeverHashed) {
    std::string outside;
    for (int i = 0; i < 32; ++i) {
        outside += "../";
    }
    outside += "dev/zero";
    publish(R"({"products":[{"ID":"KORVEX-FIRMWARE","IV":"2.1.0b40","IF":")" + outside +
            R"(","LK":"x","MD5":"0123456789abcdef0123456789abcdef"}]})");

    EXPECT_EQ(syncWith(publishUrl()), "");
    EXPECT_EQ(releaseOf(korvex), "2.1.0 b40 " + outside);
    EXPECT_EQ(korvex->statusText(), "Ready To Download");
    EXPECT_EQ(korvex->cloud.get()->md5, "0123456789abcdef0123456789abcdef");

    // No sync hashed anything: the real package is not there, and the other is never read.
    stopCore();
    EXPECT_EQ(
        logCount("Product Status Changed KORVEX-FIRMWARE(Korvex Studio A):Verifying file md5"), 0u);
}

} // namespace
