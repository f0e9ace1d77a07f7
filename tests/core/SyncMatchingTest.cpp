// How the entries of the publish file become the products' release records.

#include "DeviceSimulator.h"
#include "SyncFixture.h"

namespace {

using namespace kv::portal;

const char kPublicUrl[] =
    "https://downloads.kelmora.example/download/RAZezidad/public/dozoPublishConf.json";
const char kBetaUrl[] = "https://beta.downloads.kelmora.example/download/RAZezidad/trunk/"
                        "packages/dozoPublishConf.json";

// Where the publish file comes from, and whether builds count; nothing is fetched here.
TEST(PublishFileSource, SettingsChooseTheServerAndWhetherBuildsCount) {
    const char configured[] = "http://127.0.0.1:1/studio/dozoPublishConf.json?x=1";
    const std::tuple<const char*, const char*, std::string, bool> cases[] = {
        {configured, "0", configured, false}, {nullptr, "1", kBetaUrl, false},
        {nullptr, nullptr, kPublicUrl, true}, {nullptr, "0", kPublicUrl, true},
        {nullptr, "2", kPublicUrl, true},     {nullptr, "-1", kPublicUrl, true},
    };
    kv::test::CoreTestEnvironment environment;
    for (const auto& [publishFile, level, url, ignoresBuilds] : cases) {
        Core core;
        auto settings = std::make_unique<kv::test::FixedSettings>();
        if (publishFile != nullptr) {
            settings->set("publish_file", publishFile);
        }
        if (level != nullptr) {
            settings->set("publish_lvl", level);
        }
        core.setProxy(std::move(settings));
        ignoreBuild = !ignoresBuilds;
        EXPECT_EQ(core.publishFileUrl(false), url);
        EXPECT_EQ(ignoreBuild, ignoresBuilds) << url;
        // The local copy's place leaves the build rule alone.
        EXPECT_EQ(core.publishFileUrl(true), environment.downloadsDir() + "/dozoPublishConf.json");
        EXPECT_EQ(ignoreBuild, ignoresBuilds);
    }
    Core bare;
    ignoreBuild = true;
    EXPECT_EQ(bare.publishFileUrl(false), kBetaUrl) << "without settings";
    EXPECT_FALSE(ignoreBuild);
}

class SyncMatching : public kv::test::SyncTest {};

// Entries for other systems are skipped, one entry serves every product of its code, builds
// count with a configured publish file, and only applications' builds are reduced.
TEST_F(SyncMatching, EntriesServeEveryProductOfTheirCodeAndSystem) {
    publish(R"({"products":[
        {"ID":"KORVEX-FIRMWARE","OS":"windows","IV":"9.0.0","IF":"lower.img","LK":"l"},
        {"ID":"KORVEX-FIRMWARE","OS":"Linux","IV":"8.0.0","IF":"linux.img","LK":"l"},
        {"ID":"KORVEX-FIRMWARE","IV":"2.1.0b40","IF":"korvex.img","LK":"https://k/korvex.img",
         "GN":4,"MD5":"0123456789abcdef0123456789abcdef","RN":"https://k/notes",
         "LA":"https://k/agreement"},
        {"ID":"VORNET","OS":"Windows","IV":"4.0.0b40000","IF":"win.exe","LK":"l"},
        {"ID":"VORNET","OS":"Windows ","IV":"5.0.0","IF":"blank.exe","LK":"l"},
        {"ID":"VORNET","OS":"","IV":"6.0.0","IF":"empty.exe","LK":"l"},
        {"ID":"PELRA-FIRMWARE","IV":"1.0.0b40000","IF":"pelra.img","LK":"p","GN":null},
        {"ID":"VESK-FIRMWARE","IV":"5.1.0b7","IF":"vesk.img","LK":"v"}]})");
    const ProductPtr korvex = addProduct(code::KORVEX_FIRMWARE, "Korvex Studio A", "2.0.0b1", 4);
    addProduct(code::VORNET, "VORNET", "");
    const ProductPtr pelra = addProduct(code::PELRA_FIRMWARE, "Pelra Hall", "0.9.0");
    const ProductPtr first = addProduct(code::VESK_FIRMWARE, "Vesk Booth 1", "5.1.0b6");
    const ProductPtr second = addProduct(code::VESK_FIRMWARE, "Vesk Booth 2", "5.1.0b7");
    const ProductPtr voraveri = addProduct(code::VORAVERI_FIRMWARE, "Voraveri Room", "1.0.0");

    ASSERT_EQ(sync(), "");
    const Product::CloudPtr cloud = korvex->cloud.get();
    ASSERT_TRUE(cloud);
    EXPECT_EQ(releaseOf(korvex), "2.1.0 b40 korvex.img");
    EXPECT_EQ(cloud->version.generation, 4u);
    EXPECT_EQ(cloud->link, "https://k/korvex.img");
    EXPECT_EQ(cloud->md5, "0123456789abcdef0123456789abcdef");
    EXPECT_EQ(cloud->releaseNotesLink, "https://k/notes");
    EXPECT_EQ(cloud->agreementLink, "https://k/agreement");
    EXPECT_EQ(pelra->cloud.get()->version.generation, 0u);
    EXPECT_EQ(pelra->cloud.get()->md5, "");
    EXPECT_EQ(second->cloud.get()->version.generation, 1u);
    EXPECT_EQ(releaseOf(first), "5.1.0 b7 vesk.img");
    EXPECT_EQ(first->statusText(), "Ready To Download");
    EXPECT_EQ(second->statusText(), "Update To Date");
    EXPECT_EQ(voraveri->statusText(), "No Cloud Information");
    EXPECT_EQ(statusFile(), "version;1\nKorvex Studio A;2.0.0 b1;2.1.0 b40\nKorvex Remote "
                            "Controllers;None;null\nVORNET;None;4.0.0 b0\nPelra Hall;0.9.0 b0;"
                            "1.0.0 b40000\nVesk Booth 1;5.1.0 b6;5.1.0 b7\nVesk Booth 2;5.1.0 "
                            "b7;5.1.0 b7\nVoraveri Room;1.0.0 b0;null\n");
    stopCore();
    EXPECT_EQ(logCount("Product(VESK-FIRMWARE Vesk Booth 1 5.1.0 b6), Cloud(5.1.0 b7)"), 1u);
    EXPECT_EQ(logCount("Product(VESK-FIRMWARE Vesk Booth 2 5.1.0 b7), Cloud(5.1.0 b7)"), 1u);
}

// Products added later are matched from the cache; products the next file does not name keep
// the record they had.
TEST_F(SyncMatching, LaterProductsMatchFromTheCacheAndUnmatchedOnesKeepTheirRecord) {
    publish(R"({"products":[{"ID":"PELRA-FIRMWARE","IV":"1.1.0","IF":"pelra.img","LK":"p"}]})");
    ASSERT_EQ(sync(), "");
    const ProductPtr pelra = addProduct(code::PELRA_FIRMWARE, "Pelra Hall", "1.0.0b1");
    EXPECT_EQ(releaseOf(pelra), "none");
    ASSERT_EQ(sync(), "");
    EXPECT_EQ(releaseOf(pelra), "1.1.0 b0 pelra.img");
    EXPECT_EQ(listener.started(), 1);

    publish(R"({"products":[{"ID":"VESK-FIRMWARE","IV":"1.1.0","IF":"vesk.img","LK":"v"}]})");
    ASSERT_EQ(syncWith(publishUrl()), "");
    EXPECT_EQ(releaseOf(pelra), "1.1.0 b0 pelra.img");
    EXPECT_EQ(pelra->statusText(), "Ready To Download");
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

// Members of the wrong type read as empty, entries and lists of the wrong type are skipped,
// and a release whose links lead to another scheme than http or https is refused.
TEST_F(SyncMatching, HostileEntriesAreSkippedOrReadAsEmpty) {
    const ProductPtr korvex = addProduct(code::KORVEX_FIRMWARE, "Korvex Studio A", "1.0.0");
    const ProductPtr pelra = addProduct(code::PELRA_FIRMWARE, "Pelra Hall", "1.0.0");
    publish(R"({"products":[5, "KORVEX-FIRMWARE", [], null, true,
        {"ID":7,"IV":"9.9.9","IF":"number-id.img","LK":"x"},
        {"ID":["KORVEX-FIRMWARE"],"IV":"9.9.9","IF":"array-id.img","LK":"x"},
        {"ID":"KORVEX-FIRMWARE","OS":5,"IV":"8.8.8","IF":"number-os.img","LK":"x"},
        {"ID":"PELRA-FIRMWARE","IV":3,"IF":{"a":1},"LK":[1],"GN":"2","MD5":5,"RN":null,"LA":true}
    ]})");
    ASSERT_EQ(sync(), "");
    EXPECT_EQ(releaseOf(korvex), "none");
    const Product::CloudPtr cloud = pelra->cloud.get();
    ASSERT_TRUE(cloud);
    EXPECT_EQ(releaseOf(pelra), "None ");
    EXPECT_EQ(cloud->version.generation, 0u);
    EXPECT_EQ(cloud->link + cloud->md5 + cloud->releaseNotesLink + cloud->agreementLink, "");
    EXPECT_EQ(pelra->statusText(), "Update To Date");
    publish(R"({"products":{"ID":"KORVEX-FIRMWARE","IV":"2.0.0","IF":"k.img","LK":"k"}})");
    EXPECT_EQ(syncWith(publishUrl()), "");
    EXPECT_EQ(releaseOf(korvex), "none");

    const std::pair<const char*, bool> links[] = {
        {R"("LK":"https://kelmora.example/k.img")", true},
        {R"("LK":"file:///etc/hostname")", false},
        {R"("LK":"FILE:/dev/zero")", false},
        {R"("LK":"dict://127.0.0.1:22/d:x")", false},
        {R"("LK":"http:/kelmora.example/k.img")", false},
        {R"("LK":"HTTPS://kelmora.example/k.img","LA":"http://kelmora.example/l.txt")", true},
        {R"("LK":"https://kelmora.example/k.img","LA":"gopher://127.0.0.1:25/_")", false},
        {R"("LK":"kelmora.example:8080/k.img")", true},
    };
    for (const auto& [link, offered] : links) {
        publish(R"({"products":[{"ID":"KORVEX-FIRMWARE","IV":"2.0.0","IF":"k.img",)" +
                std::string(link) + "}]}");
        EXPECT_EQ(syncWith(publishUrl()), "") << link;
        EXPECT_EQ(releaseOf(korvex), offered ? "2.0.0 b0 k.img" : "none") << link;
        EXPECT_EQ(korvex->statusText(), offered ? "Ready To Download" : "No Cloud Information");
    }
    stopCore();
    EXPECT_EQ(logCount("Sync: Product(KORVEX-FIRMWARE Korvex Studio A) refused release 2.0.0 b0: "
                       "link \"file:///etc/hostname\" is not http or https"),
              1u);
}

// A device below the release's generation takes the first entry of the generation list above
// its own while that one is required, and loses the step and its note once it is not.
TEST_F(SyncMatching, OlderGenerationsFetchTheNextRequiredReleaseFirst) {
    const std::string release =
        R"({"products":[{"ID":"KORVEX-FIRMWARE","IV":"3.0.0b30","GN":3,"IF":"korvex-3.img",)"
        R"("LK":"https://k/3.img","MD5":"33","RN":"https://k/notes-3","LA":"https://k/la-3"}])";
    const char released[] = "korvex-3.img/33/ korvex-3.img/33/ korvex-3.img/33/ ";
    // Each device's package, digest and whether it has a note.
    const std::pair<const char*, const char*> cases[] = {
        {R"(,"firmware_generations":[
            {"ID":"KORVEX-FIRMWARE","GN":2,"IV":"3.0.0b30","IF":"korvex-2.img","LK":"x"}])",
         released},
        {"", released},
        {R"(,"firmware_generations":[])", released},
        {R"(,"firmware_generations":{"ID":"KORVEX-FIRMWARE","GN":2,"IV":"2","IF":"a","LK":"a"})",
         released},
        {R"(,"firmware_generations":[5,null,{"ID":5,"GN":2,"IV":"2.0.0","IF":"b","LK":"b"},
            {"ID":"KORVEX-FIRMWARE","GN":"2","IV":"2.0.0","IF":"c","LK":"c"},
            {"ID":"KORVEX-FIRMWARE","GN":-2,"IV":"2.0.0","IF":"d","LK":"d"}])",
         released},
        {R"(,"firmware_generations":[{"ID":"KORVEX-FIRMWARE","GN":2,"IV":7,"IF":"g2.img",)"
         R"("LK":{},"MD5":[]}])",
         "g2.img//noted korvex-3.img/33/ korvex-3.img/33/ "},
        {R"(,"firmware_generations":[
            {"ID":"VESK-FIRMWARE","GN":2,"IV":"1.0.0","IF":"vesk.img","LK":"v"},
            {"ID":"KORVEX-FIRMWARE","GN":2,"IV":"2.0.0b20","IF":"g2.img","LK":"https://k/2.img",
             "MD5":"22","RN":"https://k/notes-2"},
            {"ID":"KORVEX-FIRMWARE","GN":5,"IV":"2.9.0","IF":"g5.img","LK":"5"},
            {"ID":"KORVEX-FIRMWARE","GN":3,"IV":"2.5.0","IF":"g3.img","LK":"3"}])",
         "g2.img/22/noted g5.img//noted korvex-3.img/33/ "},
    };
    const ProductPtr devices[] = {
        addProduct(code::KORVEX_FIRMWARE, "Korvex Gen 1", "1.0.0", 1),
        addProduct(code::KORVEX_FIRMWARE, "Korvex Gen 2", "2.0.0", 2),
        addProduct(code::KORVEX_FIRMWARE, "Korvex Gen 3", "2.5.0", 3),
    };
    for (const auto& [generations, expected] : cases) {
        publish(release + generations + "}");
        ASSERT_EQ(syncWith(publishUrl()), "");
        std::string seen;
        for (const ProductPtr& device : devices) {
            const Product::CloudPtr cloud = device->cloud.get();
            EXPECT_EQ(versionText(cloud->version) + cloud->agreementLink,
                      "3.0.0 b30https://k/la-3");
            seen += cloud->fileName + "/" + cloud->md5 + "/" +
                    (device->note.get().empty() ? " " : "noted ");
        }
        EXPECT_EQ(seen, expected) << generations;
    }
    const Product::CloudPtr cloud = devices[0]->cloud.get();
    EXPECT_EQ(cloud->version.generation, 3u);
    EXPECT_EQ(cloud->link, "https://k/2.img");
    EXPECT_EQ(cloud->releaseNotesLink, "https://k/notes-3");
    EXPECT_EQ(devices[0]->note.get(),
              "Note: The released firmware version 3.0.0 b30 will be downloaded and installed "
              "after the required intermediate versions. Next required version is: 2.0.0 b20.");
    stopCore();
    // Logged when its record changed: at first, and at each of the two steps.
    EXPECT_EQ(logCount("Product(KORVEX-FIRMWARE Korvex Gen 1 1.0.0 b0), Cloud(3.0.0 b30)"), 3u);
}

TEST_F(SyncMatching, TwinTakesTheDanteEntryAndItsDeviceTheBaseEntry) {
    kv::test::DeviceSimulator::Options options;
    options.danteCapable = true;
    options.version = "2.1.0b40";
    kv::test::DeviceSimulator device(options);
    ASSERT_TRUE(core->addProduct(code::KORVEX_FIRMWARE, "Korvex Studio A", device.address(),
                                 Version(2, 1, 0, 40)));
    ASSERT_TRUE(listener.waitFor("probed Korvex Studio A"));
    const ProductPtr korvex = core->findProduct("Korvex Studio A");
    const ProductPtr twin = korvex->twin.get();
    ASSERT_TRUE(twin);
    publish(R"({"products":[
        {"ID":"KORVEX-FIRMWARE-DANTE","IV":"2.1.0b40","IF":"korvex-dante.img","LK":"d"},
        {"ID":"KORVEX-FIRMWARE","IV":"2.1.0b40","IF":"korvex-ravenna.img","LK":"r"}]})");

    ASSERT_EQ(sync(), "");
    EXPECT_EQ(korvex->cloud.get()->fileName, "korvex-ravenna.img");
    EXPECT_EQ(twin->cloud.get()->fileName, "korvex-dante.img");
    EXPECT_EQ(korvex->statusText(), "Update To Date");
    // The twin's firmware is not the one running, so it is offered at the same version.
    EXPECT_EQ(twin->statusText(), "Ready To Download");
    stopCore();
    EXPECT_EQ(logCount("Product(KORVEX-FIRMWARE-DANTE dante_Korvex Studio A 2.1.0 b40), "
                       "Cloud(2.1.0 b40)"),
              1u);
}

} // namespace
