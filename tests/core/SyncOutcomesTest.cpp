#include "SyncFixture.h"
#include "kvcurl/kvcurl.h"

#include <sys/stat.h>

#include <filesystem>

namespace {

using namespace kv::portal;
using kv::test::kFailedToContact;
using kv::test::kInvalidReply;
using kv::test::readFile;
using kv::test::writeFile;

const char kPublishFile[] = R"({
    "schema" : 2,
    "products" : [
        { "ID" : "KORVEX-FIRMWARE", "OS" : "Windows", "IV" : "2.1.0b40",
          "IF" : "korvex-2.1.0.img", "LK" : "https://downloads.kelmora.example/korvex-2.1.0.img",
          "GN" : 1, "MD5" : "0123456789abcdef0123456789abcdef" },
        { "ID" : "VORNET", "IV" : "3.2.1b32695", "IF" : "VORNET-3.2.1.exe",
          "LK" : "https://downloads.kelmora.example/VORNET-3.2.1.exe" }
    ]
})";

std::string releaseOf(const ProductPtr& product) {
    const Product::CloudPtr cloud = product->cloud.get();
    return cloud ? versionText(cloud->version) + " " + cloud->fileName : "none";
}

// Whether the lines hold the expected ones in this order, other lines between them allowed.
bool inOrder(const std::vector<std::string>& lines, const std::vector<std::string>& expected) {
    auto next = lines.begin();
    for (const std::string& line : expected) {
        next = std::find(next, lines.end(), line);
        if (next == lines.end()) {
            return false;
        }
        ++next;
    }
    return true;
}

// A URL where nothing listens any more.
std::string unreachableUrl() {
    kv::test::TempDir root;
    kv::test::ReleaseServer gone(root.path());
    return gone.url("/dozoPublishConf.json");
}

std::string requestCount(const kv::test::ReleaseServer& server, const std::string& path) {
    std::string count;
    kvcurl::fetch(server.url("/control/count?path=" + path), count, {});
    return count;
}

class SyncFromServer : public kv::test::SyncTest {};
class SyncFallback : public kv::test::SyncTest {};
class SyncLocalCopy : public kv::test::SyncTest {};

TEST_F(SyncFromServer, GivesReleasesStatusesAndALocalCopyOfTheTextAsItCame) {
    publish(kPublishFile);
    const ProductPtr korvex = addProduct(code::KORVEX_FIRMWARE, "Korvex Studio A", "2.0.0b10");
    const ProductPtr vornet = addProduct(code::VORNET, "VORNET", "");

    EXPECT_EQ(sync(), "");

    EXPECT_FALSE(core->usingLocalFile());
    EXPECT_EQ(releaseOf(korvex), "2.1.0 b40 korvex-2.1.0.img");
    EXPECT_EQ(korvex->cloud.get()->md5, "0123456789abcdef0123456789abcdef");
    EXPECT_EQ(releaseOf(vornet), "3.2.1 b2695 VORNET-3.2.1.exe");
    EXPECT_EQ(korvex->statusText(), "Ready To Download");
    EXPECT_EQ(core->findProduct("Korvex Remote Controllers")->statusText(), "No Cloud Information");
    EXPECT_EQ(localCopy(), kPublishFile);
    EXPECT_EQ(
        readFile(environment.downloadsDir() + "/kvportal.ipc"),
        "version;1\nKorvex Studio A;2.0.0 b10;2.1.0 b40\nKorvex Remote Controllers;None;null\n"
        "VORNET;None;3.2.1 b2695\n");
    EXPECT_EQ(listener.started(), 1);

    stopCore();
    EXPECT_TRUE(
        inOrder(logLines(),
                {"Sync: Querying[" + publishUrl() + "] Kelmora Technologies server...", "Success",
                 "Product(KORVEX-FIRMWARE Korvex Studio A 2.0.0 b10), Cloud(2.1.0 b40)",
                 "Product(VORNET VORNET None), Cloud(3.2.1 b2695)", "Sync finished"}));
}

TEST_F(SyncFromServer, LaterSyncsReuseTheCacheUntilRefresh) {
    publish(kPublishFile);
    const ProductPtr korvex = addProduct(code::KORVEX_FIRMWARE, "Korvex Studio A", "2.0.0b10");
    ASSERT_EQ(sync(), "");
    publish(R"({"products":[{"ID":"KORVEX-FIRMWARE","IV":"2.2.0b1","IF":"new.img","LK":"x"}]})");

    EXPECT_EQ(sync(), "");
    EXPECT_EQ(releaseOf(korvex), "2.1.0 b40 korvex-2.1.0.img");
    EXPECT_EQ(requestCount(server, "/dozoPublishConf.json"), "1\n");

    core->setForceRefresh();
    EXPECT_EQ(sync(), "");
    EXPECT_EQ(releaseOf(korvex), "2.2.0 b1 new.img");
    EXPECT_EQ(requestCount(server, "/dozoPublishConf.json"), "2\n");
    EXPECT_EQ(listener.started(), 2);

    stopCore();
    EXPECT_EQ(logCount("Sync: Using cache..."), 1u);
    EXPECT_EQ(logCount("Sync finished"), 3u);
    // A record is logged when it is new or changed, not at every pass.
    EXPECT_EQ(logCount("Product(KORVEX-FIRMWARE Korvex Studio A 2.0.0 b10), Cloud(2.1.0 b40)"), 1u);
    EXPECT_EQ(logCount("Product(KORVEX-FIRMWARE Korvex Studio A 2.0.0 b10), Cloud(2.2.0 b1)"), 1u);
}

TEST_F(SyncFallback, ServerDownWithoutLocalCopyFailsAndKeepsRecords) {
    publish(kPublishFile);
    const ProductPtr korvex = addProduct(code::KORVEX_FIRMWARE, "Korvex Studio A", "2.0.0b10");
    ASSERT_EQ(sync(), "");
    std::filesystem::remove(localCopyPath());
    settings->set("publish_file", publishUrl("?status=503"));
    core->setForceRefresh();

    EXPECT_EQ(sync(), kFailedToContact);
    EXPECT_EQ(releaseOf(korvex), "2.1.0 b40 korvex-2.1.0.img");
    EXPECT_EQ(korvex->statusText(), "Ready To Download");
    EXPECT_FALSE(std::filesystem::exists(localCopyPath()));

    // A retry is a new sync, which reaches the server again.
    settings->set("publish_file", publishUrl());
    EXPECT_EQ(sync(), "");
    EXPECT_EQ(listener.started(), 3);
    EXPECT_EQ(localCopy(), kPublishFile);

    stopCore();
    EXPECT_TRUE(inOrder(logLines(), {"Failed(503)", "Sync failed: No publish file found", "Success",
                                     "Sync finished"}));
}

TEST_F(SyncFallback, UsesLocalCopyWhenServerIsDown) {
    writeFile(localCopyPath(),
              R"({"products":[{"ID":"KORVEX-FIRMWARE","IV":"1.9.0b3","IF":"old.img","LK":"y"}]})");
    settings->set("publish_file", unreachableUrl());
    const ProductPtr korvex = addProduct(code::KORVEX_FIRMWARE, "Korvex Studio A", "2.0.0b10");

    EXPECT_EQ(sync(), kFailedToContact);
    EXPECT_TRUE(core->usingLocalFile());
    EXPECT_EQ(releaseOf(korvex), "1.9.0 b3 old.img");
    EXPECT_EQ(korvex->statusText(), "Update To Date");

    // A cache that came from the local copy keeps saying so, until a refresh reaches the server.
    EXPECT_EQ(sync(), kFailedToContact);
    EXPECT_TRUE(core->usingLocalFile());

    publish(kPublishFile);
    settings->set("publish_file", publishUrl());
    core->setForceRefresh();
    EXPECT_EQ(sync(), "");
    EXPECT_FALSE(core->usingLocalFile());
    EXPECT_EQ(releaseOf(korvex), "2.1.0 b40 korvex-2.1.0.img");

    stopCore();
    EXPECT_TRUE(inOrder(logLines(),
                        {"Failed(0)", "Sync: Using local file " + localCopyPath(), "Sync finished",
                         "Sync: Using cache...", "Sync finished", "Success", "Sync finished"}));
}

TEST_F(SyncFallback, InvalidRepliesFallBackToTheLocalCopy) {
    const std::string copy =
        R"({"products":[{"ID":"KORVEX-FIRMWARE","IV":"1.9.0b3","IF":"old.img","LK":"y"}]})";
    writeFile(localCopyPath(), copy);
    const ProductPtr korvex = addProduct(code::KORVEX_FIRMWARE, "Korvex Studio A", "2.0.0b10");
    writeFile(releases.file("array.json"), "[{\"products\":[]}]");
    writeFile(releases.file("other.json"), "{\"firmware_generations\":[]}");
    const std::string replies[] = {publishUrl("?invalid_json=1"), server.url("/array.json"),
                                   server.url("/other.json")};

    for (const std::string& url : replies) {
        settings->set("publish_file", url);
        core->setForceRefresh();

        EXPECT_EQ(sync(), kInvalidReply) << url;
        EXPECT_TRUE(core->usingLocalFile()) << url;
        EXPECT_EQ(releaseOf(korvex), "1.9.0 b3 old.img") << url;
        EXPECT_EQ(localCopy(), copy) << url;
    }

    stopCore();
    EXPECT_EQ(logCount("Success"), 3u);
    EXPECT_EQ(logCount("Sync: Using local file " + localCopyPath()), 3u);
}

// Without a local copy every failure ends the sync with its message and no releases.
TEST_F(SyncFallback, FailureWithoutLocalCopyEndsTheSyncWithItsMessage) {
    publish(kPublishFile);
    const ProductPtr korvex = addProduct(code::KORVEX_FIRMWARE, "Korvex Studio A", "2.0.0b10");
    const std::pair<std::string, const char*> failures[] = {
        {unreachableUrl(), kFailedToContact},
        {publishUrl("?invalid_json=1"), kInvalidReply},
        // A redirect is not followed.
        {publishUrl("?redirect=302&to=/dozoPublishConf.json"), kFailedToContact},
    };
    for (const auto& [url, message] : failures) {
        settings->set("publish_file", url);
        core->setForceRefresh();
        EXPECT_EQ(sync(), message) << url;
        EXPECT_EQ(korvex->statusText(), "None") << url;
        EXPECT_FALSE(std::filesystem::exists(localCopyPath())) << url;
    }

    stopCore();
    EXPECT_TRUE(inOrder(logLines(), {"Failed(0)", "Sync failed: No publish file found", "Success",
                                     "Sync failed: No publish file found", "Failed(302)",
                                     "Sync failed: No publish file found"}));
    EXPECT_EQ(logCount("Sync finished"), 0u);
}

TEST_F(SyncLocalCopy, UnparsableLocalCopyGivesNoReleases) {
    writeFile(localCopyPath(), "{\"products\": [");
    settings->set("publish_file", unreachableUrl());
    const ProductPtr korvex = addProduct(code::KORVEX_FIRMWARE, "Korvex Studio A", "2.0.0b10");

    EXPECT_EQ(sync(), kFailedToContact);
    EXPECT_TRUE(core->usingLocalFile());
    EXPECT_EQ(korvex->cloud.get(), nullptr);
    EXPECT_EQ(korvex->statusText(), "No Cloud Information");
}

TEST_F(SyncLocalCopy, CopyChangedBehindTheProgramIsWrittenAgainAtTheNextFetch) {
    publish(kPublishFile);
    ASSERT_EQ(sync(), "");
    writeFile(localCopyPath(), R"({"products":[]})");
    core->setForceRefresh();
    EXPECT_EQ(sync(), "");
    EXPECT_EQ(localCopy(), kPublishFile);
}

TEST_F(SyncLocalCopy, FailedWriteKeepsTheOldCopyAndTheSyncGoesOn) {
    const std::string copy = R"({"products":[]})";
    writeFile(localCopyPath(), copy);
    std::filesystem::create_directory(localCopyPath() + ".new");
    publish(kPublishFile);
    const ProductPtr korvex = addProduct(code::KORVEX_FIRMWARE, "Korvex Studio A", "2.0.0b10");

    EXPECT_EQ(sync(), "");
    EXPECT_EQ(releaseOf(korvex), "2.1.0 b40 korvex-2.1.0.img");
    EXPECT_EQ(localCopy(), copy);

    stopCore();
    EXPECT_EQ(logCount("Failed to save the local publish file " + localCopyPath()), 1u);
    EXPECT_EQ(logCount("Sync finished"), 1u);
}

TEST_F(SyncLocalCopy, CopyIsNeitherWrittenNorReadThroughASymbolicLink) {
    const std::string victim = environment.home() + "/victim.json";
    writeFile(victim, R"({"products":[]})");
    std::filesystem::create_symlink(victim, localCopyPath() + ".new");
    publish(kPublishFile);
    EXPECT_EQ(sync(), "");
    EXPECT_EQ(readFile(victim), R"({"products":[]})");
    EXPECT_FALSE(std::filesystem::is_symlink(localCopyPath()));
    EXPECT_EQ(localCopy(), kPublishFile);

    std::filesystem::remove(localCopyPath());
    std::filesystem::create_symlink(victim, localCopyPath());
    settings->set("publish_file", unreachableUrl());
    core->setForceRefresh();
    EXPECT_EQ(sync(), kFailedToContact);
    EXPECT_FALSE(core->usingLocalFile());
}

TEST_F(SyncLocalCopy, FailedReplaceLeavesNoTemporaryFileAndTheSyncGoesOn) {
    std::filesystem::create_directories(localCopyPath() + "/occupied");
    publish(kPublishFile);
    const ProductPtr korvex = addProduct(code::KORVEX_FIRMWARE, "Korvex Studio A", "2.0.0b10");

    EXPECT_EQ(sync(), "");
    EXPECT_EQ(releaseOf(korvex), "2.1.0 b40 korvex-2.1.0.img");
    EXPECT_TRUE(std::filesystem::is_directory(localCopyPath() + "/occupied"));
    EXPECT_FALSE(std::filesystem::exists(localCopyPath() + ".new"));
}

TEST_F(SyncLocalCopy, SuccessfulSyncReplacesTheCopyWhole) {
    writeFile(localCopyPath(), std::string(100000, ' ') + R"({"products":[]})");
    publish(kPublishFile);

    EXPECT_EQ(sync(), "");
    EXPECT_EQ(localCopy(), kPublishFile);
    EXPECT_FALSE(std::filesystem::exists(localCopyPath() + ".new"));
}

// An unchanged catalogue leaves the copy as it is (the same file, not a new one renamed over
// it); a change of one character, at the same length, replaces it.
TEST_F(SyncLocalCopy, OnlyAChangedCatalogueIsWrittenAgain) {
    publish(kPublishFile);
    ASSERT_EQ(sync(), "");
    const auto inode = [&] {
        struct stat status {};
        return ::stat(localCopyPath().c_str(), &status) == 0 ? status.st_ino : 0;
    };
    const ino_t first = inode();
    ASSERT_NE(first, 0u);

    core->setForceRefresh();
    EXPECT_EQ(sync(), "");
    EXPECT_EQ(inode(), first);

    std::string changed = kPublishFile;
    changed.replace(changed.find("2.1.0b40"), 8, "2.1.0b41");
    publish(changed);
    core->setForceRefresh();
    EXPECT_EQ(sync(), "");
    std::string expected = kPublishFile;
    expected.replace(expected.find("2.1.0b40"), 8, "2.1.0b41");
    EXPECT_EQ(localCopy(), expected);
    EXPECT_NE(inode(), first);
}

} // namespace
