#include "SyncFixture.h"

namespace {

using namespace kv::portal;

const char kPublicUrl[] =
    "https://downloads.kelmora.example/download/RAZezidad/public/dozoPublishConf.json";
const char kBetaUrl[] = "https://beta.downloads.kelmora.example/download/RAZezidad/trunk/"
                        "packages/dozoPublishConf.json";

std::string releaseOf(const ProductPtr& product) {
    const Product::CloudPtr cloud = product->cloud.get();
    return cloud ? versionText(cloud->version) + " " + cloud->fileName : "none";
}

// Where the publish file comes from, and whether builds count; nothing is fetched here.
TEST(PublishFileSource, SettingsChooseTheServerAndWhetherBuildsCount) {
    struct Case {
        const char* publishFile;
        const char* level;
        std::string url;
        bool ignoresBuilds;
    };
    const char configured[] = "http://127.0.0.1:1/studio/dozoPublishConf.json?x=1";
    const Case cases[] = {
        {configured, "0", configured, false}, {nullptr, "1", kBetaUrl, false},
        {nullptr, nullptr, kPublicUrl, true}, {nullptr, "0", kPublicUrl, true},
        {nullptr, "2", kPublicUrl, true},     {nullptr, "-1", kPublicUrl, true},
    };
    kv::test::CoreTestEnvironment environment;
    for (const Case& c : cases) {
        Core core;
        auto settings = std::make_unique<kv::test::FixedSettings>();
        if (c.publishFile != nullptr) {
            settings->set("publish_file", c.publishFile);
        }
        if (c.level != nullptr) {
            settings->set("publish_lvl", c.level);
        }
        core.setProxy(std::move(settings));
        ignoreBuild = !c.ignoresBuilds;
        EXPECT_EQ(core.publishFileUrl(false), c.url);
        EXPECT_EQ(ignoreBuild, c.ignoresBuilds) << c.url;
        // The local copy's place leaves the build rule alone.
        EXPECT_EQ(core.publishFileUrl(true), environment.downloadsDir() + "/dozoPublishConf.json");
        EXPECT_EQ(ignoreBuild, c.ignoresBuilds);
    }
    Core bare;
    ignoreBuild = true;
    EXPECT_EQ(bare.publishFileUrl(false), kBetaUrl) << "without settings";
    EXPECT_FALSE(ignoreBuild);
}

class SyncMatching : public kv::test::SyncTest {};

TEST_F(SyncMatching, ConfiguredPublishFileTellsBuildsApart) {
    publish(R"({"products":[{"ID":"KORVEX-FIRMWARE","IV":"1.2.3b12","IF":"k.img","LK":"k"}]})");
    const ProductPtr korvex = addProduct(code::KORVEX_FIRMWARE, "Korvex Studio A", "1.2.3b9");

    ASSERT_EQ(sync(), "");
    EXPECT_EQ(korvex->statusText(), "Ready To Download");
}

TEST_F(SyncMatching, EntriesForOtherSystemsAreSkipped) {
    publish(R"({"products":[
        {"ID":"KORVEX-FIRMWARE","OS":"windows","IV":"9.0.0","IF":"lower.img","LK":"l"},
        {"ID":"KORVEX-FIRMWARE","OS":"Linux","IV":"8.0.0","IF":"linux.img","LK":"l"},
        {"ID":"KORVEX-FIRMWARE","IV":"2.5.0b1","IF":"any.img","LK":"l"},
        {"ID":"VORNET","OS":"Windows","IV":"4.0.0b2","IF":"win.exe","LK":"l"},
        {"ID":"VORNET","OS":"Windows ","IV":"5.0.0","IF":"blank.exe","LK":"l"},
        {"ID":"VORNET","OS":"","IV":"6.0.0","IF":"empty.exe","LK":"l"}]})");
    const ProductPtr korvex = addProduct(code::KORVEX_FIRMWARE, "Korvex Studio A", "2.0.0b10");
    const ProductPtr vornet = addProduct(code::VORNET, "VORNET", "");

    ASSERT_EQ(sync(), "");
    EXPECT_EQ(releaseOf(korvex), "2.5.0 b1 any.img");
    EXPECT_EQ(releaseOf(vornet), "4.0.0 b2 win.exe");
}

TEST_F(SyncMatching, OneEntryServesEveryProductOfItsCode) {
    publish(R"({"products":[{"ID":"VESK-FIRMWARE","IV":"5.1.0b7","IF":"vesk.img","LK":"v"}]})");
    const ProductPtr first = addProduct(code::VESK_FIRMWARE, "Vesk Booth 1", "5.0.0b1");
    const ProductPtr second = addProduct(code::VESK_FIRMWARE, "Vesk Booth 2", "5.1.0b7");
    const ProductPtr pelra = addProduct(code::PELRA_FIRMWARE, "Pelra Hall", "1.0.0b1");

    ASSERT_EQ(sync(), "");
    EXPECT_EQ(releaseOf(first), "5.1.0 b7 vesk.img");
    EXPECT_EQ(releaseOf(second), "5.1.0 b7 vesk.img");
    EXPECT_EQ(first->statusText(), "Ready To Download");
    EXPECT_EQ(second->statusText(), "Update To Date");
    EXPECT_EQ(releaseOf(pelra), "none");
    EXPECT_EQ(pelra->statusText(), "No Cloud Information");

    stopCore();
    EXPECT_EQ(logCount("Product(VESK-FIRMWARE Vesk Booth 1 5.0.0 b1), Cloud(5.1.0 b7)"), 1u);
    EXPECT_EQ(logCount("Product(VESK-FIRMWARE Vesk Booth 2 5.1.0 b7), Cloud(5.1.0 b7)"), 1u);
}

TEST_F(SyncMatching, RecordTakesEveryMemberOfTheEntry) {
    publish(R"({"products":[
        {"ID":"KORVEX-FIRMWARE","IV":"2.1.0b40","IF":"korvex.img","LK":"https://k/korvex.img",
         "GN":4,"MD5":"0123456789abcdef0123456789abcdef","RN":"https://k/notes",
         "LA":"https://k/agreement"},
        {"ID":"PELRA-FIRMWARE","IV":"1.0.0","IF":"pelra.img","LK":"p","GN":null},
        {"ID":"VESK-FIRMWARE","IV":"1.0.0","IF":"vesk.img","LK":"v"}]})");
    const ProductPtr korvex = addProduct(code::KORVEX_FIRMWARE, "Korvex Studio A", "2.0.0b1", 4);
    const ProductPtr pelra = addProduct(code::PELRA_FIRMWARE, "Pelra Hall", "0.9.0");
    const ProductPtr vesk = addProduct(code::VESK_FIRMWARE, "Vesk Booth", "0.9.0");

    ASSERT_EQ(sync(), "");
    const Product::CloudPtr cloud = korvex->cloud.get();
    ASSERT_TRUE(cloud);
    EXPECT_EQ(cloud->version.generation, 4u);
    EXPECT_EQ(cloud->link, "https://k/korvex.img");
    EXPECT_EQ(cloud->md5, "0123456789abcdef0123456789abcdef");
    EXPECT_EQ(cloud->releaseNotesLink, "https://k/notes");
    EXPECT_EQ(cloud->agreementLink, "https://k/agreement");
    EXPECT_EQ(pelra->cloud.get()->version.generation, 0u);
    EXPECT_EQ(pelra->cloud.get()->md5, "");
    EXPECT_EQ(vesk->cloud.get()->version.generation, 1u);
    EXPECT_EQ(vesk->cloud.get()->agreementLink, "");
}

TEST_F(SyncMatching, ApplicationBuildsAreReducedFirmwareBuildsAreNot) {
    publish(R"({"products":[
        {"ID":"VORNET","IV":"1.0.0b40000","IF":"v.exe","LK":"v"},
        {"ID":"KVDISCOVERY","IV":"1.0.0b32689","IF":"d.exe","LK":"d"},
        {"ID":"KVPORTAL","IV":"1.0.0b32690","IF":"p.exe","LK":"p"},
        {"ID":"PELRA-FIRMWARE","IV":"1.0.0b40000","IF":"pelra.img","LK":"f"}]})");
    const ProductPtr vornet = addProduct(code::VORNET, "VORNET", "");
    const ProductPtr discovery = addProduct(code::KVDISCOVERY, "KVDiscovery", "");
    const ProductPtr portal = addProduct(code::KVPORTAL, "KVPortal", "");
    const ProductPtr pelra = addProduct(code::PELRA_FIRMWARE, "Pelra Hall", "1.0.0b1");

    ASSERT_EQ(sync(), "");
    EXPECT_EQ(releaseOf(vornet), "1.0.0 b0 v.exe");
    EXPECT_EQ(releaseOf(discovery), "1.0.0 b32689 d.exe");
    EXPECT_EQ(releaseOf(portal), "1.0.0 b2690 p.exe");
    EXPECT_EQ(releaseOf(pelra), "1.0.0 b40000 pelra.img");
}

TEST_F(SyncMatching, UnmatchedProductsKeepTheirEarlierRecord) {
    publish(R"({"products":[{"ID":"PELRA-FIRMWARE","IV":"1.1.0","IF":"pelra.img","LK":"p"}]})");
    const ProductPtr pelra = addProduct(code::PELRA_FIRMWARE, "Pelra Hall", "1.0.0b1");
    ASSERT_EQ(sync(), "");
    publish(R"({"products":[{"ID":"VESK-FIRMWARE","IV":"1.1.0","IF":"vesk.img","LK":"v"}]})");
    core->setForceRefresh();

    ASSERT_EQ(sync(), "");
    EXPECT_EQ(releaseOf(pelra), "1.1.0 b0 pelra.img");
    EXPECT_EQ(pelra->statusText(), "Ready To Download");
}

TEST_F(SyncMatching, ProductsAddedLaterAreMatchedFromTheCache) {
    publish(R"({"products":[{"ID":"PELRA-FIRMWARE","IV":"1.1.0","IF":"pelra.img","LK":"p"}]})");
    ASSERT_EQ(sync(), "");
    const ProductPtr pelra = addProduct(code::PELRA_FIRMWARE, "Pelra Hall", "1.0.0b1");
    EXPECT_EQ(releaseOf(pelra), "none");

    ASSERT_EQ(sync(), "");
    EXPECT_EQ(releaseOf(pelra), "1.1.0 b0 pelra.img");
    EXPECT_EQ(listener.started(), 1);
}

class IntermediateGeneration : public kv::test::SyncTest {
protected:
    std::string publishFile(const std::string& generations) const {
        return R"({"products":[{"ID":"KORVEX-FIRMWARE","IV":"3.0.0b30","GN":3,)"
               R"("IF":"korvex-3.img","LK":"https://k/korvex-3.img","MD5":"33",)"
               R"("RN":"https://k/notes-3","LA":"https://k/agreement-3"}])" +
               generations + "}";
    }
};

TEST_F(IntermediateGeneration, OlderGenerationFetchesTheNextRequiredReleaseFirst) {
    publish(publishFile(R"(,"firmware_generations":[
        {"ID":"VESK-FIRMWARE","GN":2,"IV":"1.0.0","IF":"vesk.img","LK":"v"},
        {"ID":"KORVEX-FIRMWARE","GN":2,"IV":"2.0.0b20","IF":"korvex-2.img",
         "LK":"https://k/korvex-2.img","MD5":"22","RN":"https://k/notes-2"},
        {"ID":"KORVEX-FIRMWARE","GN":3,"IV":"3.0.0b30","IF":"korvex-3.img","LK":"l","MD5":"33"}])"));
    const ProductPtr korvex = addProduct(code::KORVEX_FIRMWARE, "Korvex Studio A", "1.0.0b5", 1);

    ASSERT_EQ(sync(), "");
    const Product::CloudPtr cloud = korvex->cloud.get();
    ASSERT_TRUE(cloud);
    EXPECT_EQ(versionText(cloud->version), "3.0.0 b30");
    EXPECT_EQ(cloud->version.generation, 3u);
    EXPECT_EQ(cloud->fileName, "korvex-2.img");
    EXPECT_EQ(cloud->link, "https://k/korvex-2.img");
    EXPECT_EQ(cloud->md5, "22");
    EXPECT_EQ(cloud->releaseNotesLink, "https://k/notes-3");
    EXPECT_EQ(cloud->agreementLink, "https://k/agreement-3");
    EXPECT_EQ(korvex->note.get(),
              "Note: The released firmware version 3.0.0 b30 will be downloaded and installed "
              "after the required intermediate versions. Next required version is: 2.0.0 b20.");

    stopCore();
    EXPECT_EQ(logCount("Product(KORVEX-FIRMWARE Korvex Studio A 1.0.0 b5), Cloud(3.0.0 b30)"), 1u);
}

// Devices of generations 1, 2 and 3 against lists that require a step, require the released
// version itself, or require nothing: each takes the first entry above its generation while
// one is required, and loses the step and its note once it is not.
TEST_F(IntermediateGeneration, FirstEntryAboveTheDeviceGenerationIsTakenWhileRequired) {
    struct Case {
        const char* generations;
        const char* files[3];
    };
    const Case cases[] = {
        {R"(,"firmware_generations":[
            {"ID":"KORVEX-FIRMWARE","GN":1,"IV":"1.5.0","IF":"g1.img","LK":"1"},
            {"ID":"KORVEX-FIRMWARE","GN":2,"IV":"2.0.0","IF":"g2.img","LK":"2"},
            {"ID":"KORVEX-FIRMWARE","GN":5,"IV":"2.9.0","IF":"g5.img","LK":"5"},
            {"ID":"KORVEX-FIRMWARE","GN":3,"IV":"2.5.0","IF":"g3.img","LK":"3"}])",
         {"g2.img", "g5.img", "korvex-3.img"}},
        {R"(,"firmware_generations":[
            {"ID":"KORVEX-FIRMWARE","GN":2,"IV":"3.0.0b30","IF":"korvex-2.img","LK":"x"}])",
         {"korvex-3.img", "korvex-3.img", "korvex-3.img"}},
        {"", {"korvex-3.img", "korvex-3.img", "korvex-3.img"}},
        {R"(,"firmware_generations":[])", {"korvex-3.img", "korvex-3.img", "korvex-3.img"}},
    };
    const ProductPtr devices[] = {
        addProduct(code::KORVEX_FIRMWARE, "Korvex Gen 1", "1.0.0", 1),
        addProduct(code::KORVEX_FIRMWARE, "Korvex Gen 2", "2.0.0", 2),
        addProduct(code::KORVEX_FIRMWARE, "Korvex Gen 3", "2.5.0", 3),
    };
    for (const Case& c : cases) {
        publish(publishFile(c.generations));
        core->setForceRefresh();
        ASSERT_EQ(sync(), "");
        for (size_t d = 0; d < std::size(devices); ++d) {
            const Product::CloudPtr cloud = devices[d]->cloud.get();
            const bool stepped = std::string(c.files[d]) != "korvex-3.img";
            EXPECT_EQ(cloud->fileName, c.files[d]) << devices[d]->name << c.generations;
            EXPECT_EQ(cloud->md5, stepped ? "" : "33") << devices[d]->name;
            EXPECT_EQ(devices[d]->note.get().empty(), !stepped) << devices[d]->name;
        }
    }
}

} // namespace

TEST_F(SyncMatching, StatusFileListsReleasedVersionsAfterTheSync) {
    publish(R"({"products":[{"ID":"VESK-FIRMWARE","IV":"5.1.0b7","IF":"vesk.img","LK":"v"}]})");
    addProduct(code::VESK_FIRMWARE, "Vesk Booth 1", "5.0.0b1");
    addProduct(code::PELRA_FIRMWARE, "Pelra Hall", "1.0.0b1");
    ASSERT_EQ(sync(), "");
    EXPECT_EQ(kv::test::readFile(environment.downloadsDir() + "/kvportal.ipc"),
              "version;1\nVesk Booth 1;5.0.0 b1;5.1.0 b7\nPelra Hall;1.0.0 b1;null\n");
}

// The queues, not the status, tell a product at work: a status left showing work by a job
// that ended is settled, and a failed job's status by a refresh.
TEST_F(SyncMatching, OnlyAQueuedJobKeepsItsRecordAndStatusAndRefreshSettlesErrors) {
    publish(R"({"products":[{"ID":"VESK-FIRMWARE","IV":"5.1.0b7","IF":"vesk.img","LK":")" +
            server.url("/vesk.img?gate=busy") + R"("}]})");
    const ProductPtr busy = addProduct(code::VESK_FIRMWARE, "Vesk Booth 1", "5.0.0b1");
    const ProductPtr stale = addProduct(code::VESK_FIRMWARE, "Vesk Booth 2", "5.0.0b1");
    const ProductPtr failed = addProduct(code::VESK_FIRMWARE, "Vesk Booth 3", "5.0.0b1");
    ASSERT_EQ(sync(), "");
    core->requestDownload(busy->name);
    ASSERT_EQ(kvcurl::get(server.url("/control/wait/busy"))->code, 200);
    auto commanded = std::make_shared<Product::Cloud>();
    commanded->version = Version(999, 999, 999, 999);
    commanded->fileName = "command.img";
    busy->cloud.set(commanded);
    core->setStatus(stale, FirmwareUpdating);
    failed->errorCode = -2;
    core->setStatus(failed, FirmwareUpdateError);

    ASSERT_EQ(sync(), "");
    EXPECT_EQ(releaseOf(busy), "999.999.999 b999 command.img");
    EXPECT_EQ(busy->statusText(), "Downloading");
    EXPECT_EQ(stale->statusText(), "Ready To Download");
    EXPECT_EQ(failed->statusText(), "Firmware Update Error (-2)");

    core->setForceRefresh();
    ASSERT_EQ(sync(), "");
    EXPECT_EQ(failed->statusText(), "Ready To Download");
    core->cancel(busy->name);
    kvcurl::get(server.url("/control/open/busy"));
}
