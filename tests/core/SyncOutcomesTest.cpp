// Fetching the publish file: the cache, the local copy, what the user is told when the release
// server misbehaves, and requests that arrive while a sync runs.

#include "ScopedEnv.h"
#include "SyncFixture.h"
#include "core/json/JsonDocument.h"
#include "core/sync/CatalogueSync.h"

#include <sys/stat.h>

#include <filesystem>

namespace {

using namespace kv::portal;
using kv::test::kFailedToContact;
using kv::test::kInvalidReply;
using kv::test::readFile;
using kv::test::writeFile;
namespace fs = std::filesystem;

// Laid out by hand: the local copy keeps the text as it came.
const char kPublishFile[] = R"({ "schema" : 2, "products" : [
    { "ID" : "KORVEX-FIRMWARE", "OS" : "Windows", "IV" : "2.1.0b40", "IF" : "korvex-2.1.0.img",
      "LK" : "https://k/korvex-2.1.0.img", "GN" : 1, "MD5" : "0123456789abcdef0123456789abcdef" },
    { "ID" : "VORNET", "IV" : "3.2.1b32695", "IF" : "VORNET-3.2.1.exe", "LK" : "https://v/v.exe" }
]})";
const char kOldCopy[] =
    R"({"products":[{"ID":"KORVEX-FIRMWARE","IV":"1.9.0b3","IF":"old.img","LK":"y"}]})";

class Sync : public kv::test::SyncTest {
protected:
    ProductPtr korvex = addProduct(code::KORVEX_FIRMWARE, "Korvex Studio A", "2.0.0b10");
};

TEST_F(Sync, GivesReleasesStatusesAndALocalCopyOfTheTextAsItCame) {
    publish(kPublishFile);
    addProduct(code::VORNET, "VORNET", "");

    EXPECT_EQ(sync(), "");
    EXPECT_FALSE(core->usingLocalFile());
    EXPECT_EQ(releaseOf(korvex), "2.1.0 b40 korvex-2.1.0.img");
    EXPECT_EQ(korvex->cloud.get()->md5, "0123456789abcdef0123456789abcdef");
    EXPECT_EQ(korvex->statusText(), "Ready To Download");
    EXPECT_EQ(core->findProduct("Korvex Remote Controllers")->statusText(), "No Cloud Information");
    EXPECT_EQ(localCopy(), kPublishFile);
    EXPECT_EQ(listener.started(), 1);
    stopCore();
    EXPECT_TRUE(logInOrder({"Sync: Querying[" + publishUrl() + "] Kelmora Technologies server...",
                            "Success",
                            "Product(KORVEX-FIRMWARE Korvex Studio A 2.0.0 b10), Cloud(2.1.0 b40)",
                            "Product(VORNET VORNET None), Cloud(3.2.1 b2695)", "Sync finished"}));
}

// An unchanged catalogue leaves the copy as it is (the same file, not a new one renamed over
// it); a change of one character at the same length, or a copy changed behind the program's
// back, even by a line added at its end, has it written again. A record is logged when it is
// new or changed.
TEST_F(Sync, LaterSyncsUseTheCacheUntilARefreshAndOnlyAChangedCopyIsWritten) {
    publish(kPublishFile);
    ASSERT_EQ(sync(), "");
    const auto inode = [&] {
        struct stat status {};
        return ::stat(localCopyPath().c_str(), &status) == 0 ? status.st_ino : 0;
    };
    const ino_t first = inode();
    std::string changed = kPublishFile;
    changed.replace(changed.find("2.1.0b40"), 8, "2.1.0b41");
    publish(changed);

    EXPECT_EQ(sync(), "");
    EXPECT_EQ(releaseOf(korvex), "2.1.0 b40 korvex-2.1.0.img");
    EXPECT_EQ(requestCount(), "1\n");
    EXPECT_EQ(syncWith(publishUrl()), "");
    EXPECT_EQ(releaseOf(korvex), "2.1.0 b41 korvex-2.1.0.img");
    EXPECT_EQ(requestCount(), "2\n");
    EXPECT_EQ(localCopy(), changed);
    const ino_t second = inode();
    EXPECT_NE(second, first);
    EXPECT_EQ(syncWith(publishUrl()), "");
    EXPECT_EQ(inode(), second);
    writeFile(localCopyPath(), changed + "\n");
    EXPECT_EQ(syncWith(publishUrl()), "");
    EXPECT_EQ(localCopy(), changed);
    EXPECT_EQ(listener.started(), 4);

    stopCore();
    EXPECT_EQ(logCount("Sync: Using cache..."), 1u);
    EXPECT_EQ(logCount("Sync finished"), 5u);
    EXPECT_EQ(logCount("Product(KORVEX-FIRMWARE Korvex Studio A 2.0.0 b10), Cloud(2.1.0 b40)"), 1u);
    EXPECT_EQ(logCount("Product(KORVEX-FIRMWARE Korvex Studio A 2.0.0 b10), Cloud(2.1.0 b41)"), 1u);
}

// A cache that came from the local copy keeps saying so, until a refresh reaches the server.
TEST_F(Sync, UsesTheLocalCopyWhenTheServerIsDown) {
    writeFile(localCopyPath(), "{\"products\": [");
    settings->set("publish_file", unreachableUrl());
    EXPECT_EQ(sync(), kFailedToContact);
    EXPECT_TRUE(core->usingLocalFile());
    EXPECT_EQ(korvex->cloud.get(), nullptr);
    EXPECT_EQ(korvex->statusText(), "No Cloud Information");

    writeFile(localCopyPath(), kOldCopy);
    EXPECT_EQ(syncWith(unreachableUrl()), kFailedToContact);
    EXPECT_TRUE(core->usingLocalFile());
    EXPECT_EQ(releaseOf(korvex), "1.9.0 b3 old.img");
    EXPECT_EQ(korvex->statusText(), "Update To Date");
    EXPECT_EQ(sync(), kFailedToContact);
    EXPECT_TRUE(core->usingLocalFile());

    publish(kPublishFile);
    EXPECT_EQ(syncWith(publishUrl()), "");
    EXPECT_FALSE(core->usingLocalFile());
    EXPECT_EQ(releaseOf(korvex), "2.1.0 b40 korvex-2.1.0.img");
    // Nor is a copy read through a symbolic link.
    fs::remove(localCopyPath());
    writeFile(environment.home() + "/elsewhere.json", kOldCopy);
    fs::create_symlink(environment.home() + "/elsewhere.json", localCopyPath());
    EXPECT_EQ(syncWith(unreachableUrl()), kFailedToContact);
    EXPECT_FALSE(core->usingLocalFile());

    stopCore();
    EXPECT_TRUE(
        logInOrder({"Failed(0)", "Sync: Using local file " + localCopyPath(), "Sync finished",
                    "Sync: Using cache...", "Sync finished", "Success", "Sync finished"}));
}

// Whatever stands where the copy goes, the old copy stays and the sync goes on.
TEST_F(Sync, ACopyThatCannotBeWrittenKeepsTheOldOneAndTheSyncGoesOn) {
    writeFile(localCopyPath(), kOldCopy);
    fs::create_directory(localCopyPath() + ".new");
    publish(kPublishFile);
    EXPECT_EQ(sync(), "");
    EXPECT_EQ(releaseOf(korvex), "2.1.0 b40 korvex-2.1.0.img");
    EXPECT_EQ(localCopy(), kOldCopy);

    fs::remove(localCopyPath() + ".new");
    // Once nothing is in the way the same text is written, although the catalogue is unchanged.
    EXPECT_EQ(syncWith(publishUrl()), "");
    EXPECT_EQ(localCopy(), kPublishFile);
    fs::remove(localCopyPath());
    fs::create_directories(localCopyPath() + "/occupied");
    EXPECT_EQ(syncWith(publishUrl()), "");
    EXPECT_EQ(releaseOf(korvex), "2.1.0 b40 korvex-2.1.0.img");
    EXPECT_TRUE(fs::is_directory(localCopyPath() + "/occupied"));
    EXPECT_FALSE(fs::exists(localCopyPath() + ".new"));
    stopCore();
    EXPECT_EQ(logCount("Failed to save the local publish file " + localCopyPath()), 2u);
    EXPECT_EQ(logCount("Sync finished"), 3u);
}

// Errors, replies that are no publish file, beyond the size or nesting limit, and stalled
// transfers (waited out under short time-outs) end the sync with a message that says which.
// Without a local copy the product stays as it was; with one, the copy serves and nothing is
// lost. A retry is a new sync that reaches the server again.
TEST_F(Sync, FailedRepliesEndTheSyncWithTheirMessageAndTheLocalCopyServes) {
    const std::string release = R"({"products":[{"ID":"KORVEX-FIRMWARE","IV":"2.2.0b1",)"
                                R"("IF":"korvex-2.2.0.img","LK":"x"}],"notes":)";
    const size_t depth = kMaxJsonDepth;
    writeFile(releases.file("large.json"),
              release + '"' + std::string(CatalogueSync::kPublishFileSizeLimit, 'p') + "\"}");
    writeFile(releases.file("deep.json"),
              release + std::string(depth, '[') + std::string(depth, ']') + "}");
    writeFile(releases.file("array.json"), "[{\"products\":[]}]");
    writeFile(releases.file("other.json"), "{\"firmware_generations\":[]}");
    publish(kPublishFile);
    const std::tuple<std::string, const char*, bool> replies[] = {
        {unreachableUrl(), kFailedToContact, false},
        {publishUrl("?status=500"), kFailedToContact, false},
        // A redirect is not followed.
        {publishUrl("?redirect=302&to=/dozoPublishConf.json"), kFailedToContact, false},
        {publishUrl("?invalid_json=1"), kInvalidReply, false},
        {server.url("/array.json"), kInvalidReply, false},
        {server.url("/other.json"), kInvalidReply, false},
        {server.url("/large.json"), kInvalidReply, false},
        {server.url("/deep.json"), kInvalidReply, false},
        {publishUrl("?stall=body"), kFailedToContact, true},
        {publishUrl("?stall=headers"), kFailedToContact, true},
    };
    for (const bool copied : {false, true}) {
        for (const auto& [url, message, stalls] : replies) {
            kv::test::ScopedEnv timeouts("KVPORTAL_HTTP_TIMEOUT", stalls ? "2" : nullptr);
            EXPECT_EQ(syncWith(url), message) << url;
            EXPECT_EQ(core->usingLocalFile(), copied) << url;
            EXPECT_EQ(releaseOf(korvex), copied ? "2.1.0 b40 korvex-2.1.0.img" : "none") << url;
            EXPECT_EQ(korvex->statusText(), copied ? "Ready To Download" : "None") << url;
            EXPECT_EQ(fs::exists(localCopyPath()) && localCopy() == kPublishFile, copied) << url;
            EXPECT_FALSE(fs::exists(localCopyPath() + ".new")) << url;
        }
        settings->set("publish_file", publishUrl());
        if (copied) {
            core->setForceRefresh();
        }
        EXPECT_EQ(sync(), "");
    }
    // Neither is a local copy that large read, and the records stay.
    fs::copy_file(releases.file("large.json"), localCopyPath(),
                  fs::copy_options::overwrite_existing);
    EXPECT_EQ(syncWith(publishUrl("?status=503")), kFailedToContact);
    EXPECT_EQ(releaseOf(korvex), "2.1.0 b40 korvex-2.1.0.img");
    EXPECT_EQ(korvex->statusText(), "Ready To Download");
    EXPECT_EQ(listener.started(), 2 * static_cast<int>(std::size(replies)) + 3);

    stopCore();
    EXPECT_EQ(logCount("Failed(500)"), 2u);
    EXPECT_EQ(logCount("Failed(302)"), 2u);
    EXPECT_EQ(logCount("Sync: Using local file " + localCopyPath()), std::size(replies));
    EXPECT_EQ(logCount("Sync: publish file refused: larger than 16777216 bytes"), 2u);
    EXPECT_EQ(
        logCount("Sync: local file " + localCopyPath() + " refused: larger than 16777216 bytes"),
        1u);
    EXPECT_EQ(logCount("Sync failed: No publish file found"), std::size(replies) + 1);
    EXPECT_EQ(logCount("Sync finished"), std::size(replies) + 2);
    EXPECT_TRUE(
        logInOrder({"Failed(0)", "Sync failed: No publish file found", "Success", "Sync finished",
                    "Failed(0)", "Sync: Using local file " + localCopyPath(), "Sync finished"}));
}

// The release server holds a fetch at a gate until the test opens it.
class SyncRequests : public Sync {
protected:
    SyncRequests() {
        publish(R"({"products":[{"ID":"KORVEX-FIRMWARE","IV":"2.1.0b40","IF":"k","LK":"k"}]})");
    }

    void holdFetch(const std::string& gate, const std::string& query = {}) {
        settings->set("publish_file", publishUrl("?gate=" + gate + query));
        core->startSync();
        ASSERT_EQ(kvcurl::get(server.url("/control/wait/" + gate))->code, 200);
    }
    void openGate(const std::string& gate) {
        ASSERT_EQ(kvcurl::get(server.url("/control/open/" + gate))->code, 200);
    }

    const std::string matched =
        "Product(KORVEX-FIRMWARE Korvex Studio A 2.0.0 b10), Cloud(2.1.0 b40)";
};

TEST_F(SyncRequests, RequestsDuringAFetchAreServedByOneMatchingPassAndARefreshFetchesAgain) {
    for (const std::string gate : {"plain", "refresh"}) {
        holdFetch(gate);
        if (gate == "refresh") {
            core->setForceRefresh();
        }
        core->startSync();
        core->startSync();
        openGate(gate);
        EXPECT_EQ(listener.waitForFinished(gate == "plain" ? 1 : 2), "") << gate;
        core->setForceRefresh();
    }
    stopCore();
    EXPECT_EQ(listener.messages().size(), 2u);
    EXPECT_EQ(listener.started(), 3);
    EXPECT_EQ(requestCount(), "3\n");
    EXPECT_EQ(logCount("Success"), 3u);
    EXPECT_EQ(logCount("Sync: Using cache..."), 1u);
    EXPECT_EQ(logCount(matched), 1u);
}

TEST_F(SyncRequests, FailedPassesAreEachReportedAndTheLastRequestIsServed) {
    holdFetch("fetch", "&status=500");
    core->startSync();
    settings->set("publish_file", publishUrl());
    openGate("fetch");

    EXPECT_EQ(listener.waitForFinished(2), "");
    stopCore();
    EXPECT_EQ(listener.messages(), (std::vector<std::string>{kFailedToContact, ""}));
    EXPECT_EQ(logCount("Sync failed: No publish file found"), 1u);
    EXPECT_EQ(logCount(matched), 1u);
}

// Asks for syncs from inside the matching pass, as the window does whenever a device appears:
// the request does not wait for the matching, and the sync starts over once for the whole burst
// and logs again only what changed.
TEST_F(SyncRequests, BurstWhileMatchingIsServedByOneSecondPass) {
    struct Burst : Core::Listener {
        void statusChanged(Core* core, const char*) override {
            for (; asked < 5; ++asked) {
                core->startSync();
            }
        }
        int asked = 0;
    } burst;
    core->addListener(&burst);
    core->startSync();
    EXPECT_EQ(listener.waitForFinished(2), "");
    stopCore();
    EXPECT_EQ(listener.messages().size(), 2u);
    EXPECT_EQ(logCount("Sync: Using cache..."), 1u);
    EXPECT_EQ(logCount(matched), 1u);
}

} // namespace
