#include "StdoutCapture.h"
#include "SyncFixture.h"
#include "core/json/JsonDocument.h"

namespace {

using namespace kv::portal;

class SyncHostileInput : public kv::test::SyncTest {};

TEST_F(SyncHostileInput, WrongTypesAreSkippedOrReadAsEmpty) {
    publish(R"({"products":[
        5, "KORVEX-FIRMWARE", [], null, true,
        {"ID":7,"IV":"9.9.9","IF":"number-id.img","LK":"x"},
        {"ID":["KORVEX-FIRMWARE"],"IV":"9.9.9","IF":"array-id.img","LK":"x"},
        {"ID":"KORVEX-FIRMWARE","OS":5,"IV":"8.8.8","IF":"number-os.img","LK":"x"},
        {"ID":"PELRA-FIRMWARE","IV":3,"IF":{"a":1},"LK":[1],"GN":"2","MD5":5,"RN":null,"LA":true},
        {"ID":"VESK-FIRMWARE","IV":"1.0.0","IF":"vesk.img","LK":"v","GN":-4},
        {"ID":"VESK-III-FIRMWARE","IV":"1.0.0","IF":"vesk3.img","LK":"v","GN":1.5},
        {"ID":"VORAVERI-FIRMWARE","IV":"1.0.0","IF":"voraveri.img","LK":"v","GN":4294967296}
    ]})");
    const ProductPtr korvex = addProduct(code::KORVEX_FIRMWARE, "Korvex Studio A", "1.0.0");
    const ProductPtr pelra = addProduct(code::PELRA_FIRMWARE, "Pelra Hall", "1.0.0");
    const ProductPtr vesk = addProduct(code::VESK_FIRMWARE, "Vesk Booth", "1.0.0");
    const ProductPtr vesk3 = addProduct(code::VESK_III_FIRMWARE, "Vesk III Booth", "1.0.0");
    const ProductPtr voraveri = addProduct(code::VORAVERI_FIRMWARE, "Voraveri Room", "1.0.0");

    ASSERT_EQ(sync(), "");
    EXPECT_EQ(korvex->cloud.get(), nullptr);
    const Product::CloudPtr cloud = pelra->cloud.get();
    ASSERT_TRUE(cloud);
    EXPECT_EQ(versionText(cloud->version), "None");
    EXPECT_EQ(cloud->version.generation, 0u);
    EXPECT_EQ(cloud->fileName, "");
    EXPECT_EQ(cloud->link, "");
    EXPECT_EQ(cloud->md5, "");
    EXPECT_EQ(cloud->releaseNotesLink, "");
    EXPECT_EQ(cloud->agreementLink, "");
    EXPECT_EQ(pelra->statusText(), "Update To Date");
    EXPECT_EQ(vesk->cloud.get()->version.generation, 0u);
    EXPECT_EQ(vesk3->cloud.get()->version.generation, 0u);
    EXPECT_EQ(voraveri->cloud.get()->version.generation, 0u);
}

TEST_F(SyncHostileInput, ProductsThatIsNotAnArrayMatchesNothing) {
    publish(R"({"products":{"ID":"PELRA-FIRMWARE","IV":"2.0.0","IF":"p.img","LK":"p"}})");
    const ProductPtr pelra = addProduct(code::PELRA_FIRMWARE, "Pelra Hall", "1.0.0");

    EXPECT_EQ(sync(), "");
    EXPECT_EQ(pelra->cloud.get(), nullptr);
    EXPECT_EQ(pelra->statusText(), "No Cloud Information");
    EXPECT_EQ(localCopy(),
              R"({"products":{"ID":"PELRA-FIRMWARE","IV":"2.0.0","IF":"p.img","LK":"p"}})");
}

TEST_F(SyncHostileInput, GenerationListOfWrongTypesIsSkipped) {
    const std::string release =
        R"({"ID":"KORVEX-FIRMWARE","IV":"3.0.0","GN":3,"IF":"korvex-3.img","LK":"k"})";
    const ProductPtr korvex = addProduct(code::KORVEX_FIRMWARE, "Korvex Studio A", "1.0.0", 1);
    const std::string lists[] = {
        R"("firmware_generations":{"ID":"KORVEX-FIRMWARE","GN":2,"IV":"2.0.0","IF":"a","LK":"a"})",
        R"("firmware_generations":"KORVEX-FIRMWARE")",
        R"("firmware_generations":[5,null,{"ID":5,"GN":2,"IV":"2.0.0","IF":"b","LK":"b"},)"
        R"({"ID":"KORVEX-FIRMWARE","GN":"2","IV":"2.0.0","IF":"c","LK":"c"},)"
        R"({"ID":"KORVEX-FIRMWARE","GN":-2,"IV":"2.0.0","IF":"d","LK":"d"}])",
    };
    for (const std::string& list : lists) {
        publish(R"({"products":[)" + release + "]," + list + "}");
        core->setForceRefresh();

        ASSERT_EQ(sync(), "") << list;
        EXPECT_EQ(korvex->cloud.get()->fileName, "korvex-3.img") << list;
        EXPECT_EQ(korvex->note.get(), "") << list;
    }
}

TEST_F(SyncHostileInput, GenerationEntryWithWrongTypedMembersReadsAsEmpty) {
    publish(R"({"products":[{"ID":"KORVEX-FIRMWARE","IV":"3.0.0","GN":3,"IF":"k3","LK":"k"}],)"
            R"("firmware_generations":[{"ID":"KORVEX-FIRMWARE","GN":2,"IV":7,"IF":"g2.img",)"
            R"("LK":{},"MD5":[]}]})");
    const ProductPtr korvex = addProduct(code::KORVEX_FIRMWARE, "Korvex Studio A", "1.0.0", 1);

    ASSERT_EQ(sync(), "");
    EXPECT_EQ(korvex->cloud.get()->fileName, "g2.img");
    EXPECT_EQ(korvex->cloud.get()->link, "");
    EXPECT_EQ(korvex->cloud.get()->md5, "");
    EXPECT_EQ(korvex->note.get(),
              "Note: The released firmware version 3.0.0 b0 will be downloaded and installed "
              "after the required intermediate versions. Next required version is: None.");
}

// Links the program would fetch over another scheme than http or https: their release is
// refused, the one the product had before too, and no download is offered.
TEST_F(SyncHostileInput, ReleaseLinkingToAnotherSchemeIsRefused) {
    const ProductPtr korvex = addProduct(code::KORVEX_FIRMWARE, "Korvex Studio A", "1.0.0");
    const std::string entry = R"({"products":[{"ID":"KORVEX-FIRMWARE","IV":"2.0.0","IF":"k.img",)";
    publish(entry + R"("LK":"https://kelmora.example/k.img"}]})");
    ASSERT_EQ(sync(), "");
    ASSERT_EQ(korvex->statusText(), "Ready To Download");
    const std::string refused[] = {
        R"("LK":"file:///etc/hostname")",
        R"("LK":"FILE:/dev/zero")",
        R"("LK":"dict://127.0.0.1:22/d:x")",
        R"("LK":"scp://kelmora.example/id_rsa")",
        R"("LK":"http:/kelmora.example/k.img")",
        R"("LK":"https://kelmora.example/k.img","LA":"gopher://127.0.0.1:25/_")",
    };
    for (const std::string& links : refused) {
        publish(entry + links + "}]}");
        core->setForceRefresh();

        EXPECT_EQ(sync(), "") << links;
        EXPECT_FALSE(korvex->cloud.get()) << links;
        EXPECT_EQ(korvex->statusText(), "No Cloud Information") << links;
    }
    const std::string accepted[] = {
        R"("LK":"HTTPS://kelmora.example/k.img","LA":"http://kelmora.example/la.txt")",
        R"("LK":"kelmora.example:8080/k.img")",
    };
    for (const std::string& links : accepted) {
        publish(entry + links + "}]}");
        core->setForceRefresh();

        EXPECT_EQ(sync(), "") << links;
        EXPECT_EQ(korvex->statusText(), "Ready To Download") << links;
    }
    stopCore();
    EXPECT_EQ(logCount("Sync: Product(KORVEX-FIRMWARE Korvex Studio A) refused release 2.0.0 b0: "
                       "link \"file:///etc/hostname\" is not http or https"),
              1u);
}

TEST_F(SyncHostileInput, HugeAndDeepValuesDoNotBreakTheSync) {
    const std::string longName(1024 * 1024, 'n');
    std::string manySegments = "4.5.6.7";
    for (int i = 0; i < 2000; ++i) {
        manySegments += "." + std::to_string(i);
    }
    std::string unknownEntries;
    for (int i = 0; i < 10000; ++i) {
        unknownEntries += R"({"ID":"OTHER-)" + std::to_string(i) + R"(","IV":"1.0.0"},)";
    }
    const size_t depth = kMaxJsonDepth - 1;
    publish(R"({"deep":)" + std::string(depth, '[') + std::string(depth, ']') + R"(,"products":[)" +
            unknownEntries + R"({"ID":"PELRA-FIRMWARE","IV":")" + manySegments + R"(","IF":")" +
            longName + R"(","LK":"p"},{"ID":"VESK-FIRMWARE","IV":")" + std::string(5000, '9') +
            R"(b1","IF":"v","LK":"v"}]})");
    const ProductPtr pelra = addProduct(code::PELRA_FIRMWARE, "Pelra Hall", "1.0.0");
    const ProductPtr vesk = addProduct(code::VESK_FIRMWARE, "Vesk Booth", "1.0.0");

    std::string message;
    {
        // The console would show the whole reply; keep it out of the test's output.
        kv::test::StdoutCapture console;
        message = sync();
    }
    ASSERT_EQ(message, "");
    const Product::CloudPtr cloud = pelra->cloud.get();
    ASSERT_TRUE(cloud);
    EXPECT_EQ(versionText(cloud->version), "4.5.6 b7");
    EXPECT_EQ(cloud->fileName, longName);
    EXPECT_TRUE(vesk->cloud.get());
    EXPECT_EQ(localCopy().substr(0, 12), R"({"deep":[[[[)");
    EXPECT_GT(localCopy().size(), longName.size() + 2 * depth);
}

} // namespace
