// A device announces absurd TXT values: what its row and the status file show, and that the
// other products and the program's files are untouched.

#include "SyncFixture.h"
#include "dns_txt_records.h"

#include <string>
#include <vector>

namespace {

using namespace kv::portal;
using kv::test::readFile;

const char kPublishFile[] =
    R"({"products":[{"ID":"KORVEX-FIRMWARE","IV":"1.2.4b0","IF":"korvex-1.2.4.img","LK":"x",)"
    R"("GN":3}],"firmware_generations":[{"ID":"KORVEX-FIRMWARE","GN":2,"IV":"1.1.0b0",)"
    R"("IF":"korvex-1.1.0.img","LK":"x"}]})";

// The TXT record as it arrives from the network, read the way discovery reads it.
std::vector<std::string> received(const std::string& record) {
    std::vector<std::string> entries;
    zeroconf::parse_txt_record(reinterpret_cast<const unsigned char*>(record.data()), record.size(),
                               entries);
    return entries;
}

std::string recordOf(const std::vector<std::string>& entries) {
    std::string record;
    for (const std::string& entry : entries) {
        record += static_cast<char>(entry.size());
        record += entry;
    }
    return record;
}

class AbsurdTxt : public kv::test::SyncTest {
protected:
    void SetUp() override {
        publish(kPublishFile);
        pelra = addProduct(code::PELRA_FIRMWARE, "Pelra Hall", "1.0.0b1");
    }

    bool announce(const std::string& name, const std::string& record) {
        return core->addDevice(name, "", received(record));
    }

    std::string statusFile() const {
        return readFile(environment.downloadsDir() + "/kvportal.ipc");
    }

    ProductPtr pelra;
};

// A 255-byte version saturates or, without a number, shows none; taken modulo 2^32, a
// generation of 2^40 would read as 0 and send the device through intermediate firmware it is
// far beyond. Each still compares with the release.
TEST_F(AbsurdTxt, OutsizedVersionsAndGenerationsSaturateAndStillCompareWithTheRelease) {
    struct Case {
        const char* name;
        std::string version;
        std::string generation;
        const char* shown;
        uint32_t generationShown;
    };
    const Case cases[] = {
        {"Korvex Stage", "version=1.2.3b" + std::string(241, '9'), "firmware_generation=3",
         "1.2.3 b4294967295", 3},
        {"Korvex Word", "version=" + std::string(247, 'x'), "firmware_generation=3", "None", 3},
        {"Korvex Far", "version=1.2.3b4", "firmware_generation=1099511627776", "1.2.3 b4",
         4294967295u},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(
            announce(c.name, recordOf({"vendor=Kelmora Technologies", "product=KELMORA+KORVEX",
                                       c.version, c.generation})));
        const Version version = core->findProduct(c.name)->version.get();
        EXPECT_EQ(versionText(version), c.shown) << c.name;
        EXPECT_EQ(version.generation, c.generationShown) << c.name;
    }

    EXPECT_EQ(sync(), "");
    for (const Case& c : cases) {
        const ProductPtr korvex = core->findProduct(c.name);
        EXPECT_EQ(korvex->statusText(), "Ready To Download") << c.name;
        EXPECT_EQ(korvex->note.get(), "") << c.name;
        EXPECT_EQ(korvex->cloud.get()->fileName, "korvex-1.2.4.img") << c.name;
    }
    EXPECT_EQ(pelra->statusText(), "No Cloud Information");
    EXPECT_EQ(statusFile(), "version;1\nPelra Hall;1.0.0 b1;null\nKorvex Stage;1.2.3 b4294967295;"
                            "1.2.4 b0\nKorvex Remote Controllers;None;null\nKorvex Word;None;"
                            "1.2.4 b0\nKorvex Far;1.2.3 b4;1.2.4 b0\n");
}

TEST_F(AbsurdTxt, DeviceWithoutVendorIsIgnoredAndNothingElseChanges) {
    EXPECT_EQ(sync(), "");
    const std::string before = statusFile();

    EXPECT_FALSE(announce("Anonymous", recordOf({"product=KELMORA+KORVEX", "version=9.9.9b9"})));
    EXPECT_FALSE(announce("Empty vendor", recordOf({"vendor=", "product=Pelra"})));
    EXPECT_FALSE(announce("No record", ""));
    // A length byte past the end makes the whole record unreadable.
    EXPECT_FALSE(announce("Overrun", recordOf({"vendor=Kelmora Technologies", "product=Pelra"}) +
                                         "\x7f" + "version=1"));

    std::vector<std::string> names;
    core->forEachProduct([&names](const ProductPtr& product) {
        names.push_back(product->name);
        return true;
    });
    EXPECT_EQ(names, std::vector<std::string>{"Pelra Hall"});
    EXPECT_EQ(statusFile(), before);
    EXPECT_EQ(localCopy(), kPublishFile);
}

} // namespace
