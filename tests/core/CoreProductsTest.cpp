#include "CoreTestEnvironment.h"
#include "FixedSettings.h"
#include "RecordingListener.h"
#include "StdoutCapture.h"
#include "TempDir.h"
#include "core/Core.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace kv::portal;
using kv::test::RecordingListener;

namespace {

class CoreProducts : public ::testing::Test {
protected:
    CoreProducts() {
        auto proxy = std::make_unique<kv::test::FixedSettings>();
        settings = proxy.get();
        core.setProxy(std::move(proxy));
        core.addListener(&listener);
    }
    ~CoreProducts() override { core.removeListener(&listener); }

    bool announce(const std::string& name, const std::vector<std::string>& txt) {
        return core.addDevice(name, "", txt);
    }

    std::vector<std::string> names() {
        std::vector<std::string> result;
        core.forEachProduct([&](const ProductPtr& product) {
            result.push_back(product->name);
            return true;
        });
        return result;
    }

    kv::test::CoreTestEnvironment environment;
    Core core;
    kv::test::FixedSettings* settings = nullptr;
    RecordingListener listener;
};

Product::CloudPtr release(const Version& version) {
    auto cloud = std::make_shared<Product::Cloud>();
    cloud->version = version;
    cloud->fileName = "package.bin";
    return cloud;
}

} // namespace

TEST_F(CoreProducts, DevicesAreClassifiedByTheirTxtRecord) {
    struct Case {
        std::vector<std::string> txt;
        ProductCode code;
        const char* version;
        uint32_t generation;
    };
    const std::string kelmora = "vendor=Kelmora Technologies";
    const Case cases[] = {
        {{kelmora, "product=KELMORA+KORVEX"}, code::KORVEX_FIRMWARE, "None", 1},
        {{kelmora, "product=VESK_MkII"}, code::VORAVERI_FIRMWARE, "None", 1},
        {{kelmora, "product=VESK-III"}, code::VESK_III_FIRMWARE, "None", 1},
        {{kelmora, "product=Vesk"}, code::VESK_FIRMWARE, "None", 1},
        {{kelmora, "product=Pelra", "version=1.2.3b45", "firmware_generation=3"},
         code::PELRA_FIRMWARE,
         "1.2.3 b45",
         3},
        {{kelmora, "product=Pelra", "firmware_generation=1099511627776"},
         code::PELRA_FIRMWARE,
         "None",
         4294967295u},
        {{kelmora, "product=Pelra", "version"}, code::PELRA_FIRMWARE, "None", 1},
        {{"vendor=Trennel", "product=RX 48 MkII"}, code::RX48_FIRMWARE, "None", 1},
        {{kelmora, "product=Toaster"}, nullptr, nullptr, 0},
        {{"vendor=kelmora technologies", "product=Vesk"}, nullptr, nullptr, 0},
        {{"vendor=Other", "product=Vesk"}, nullptr, nullptr, 0},
        {{"product=Vesk"}, nullptr, nullptr, 0},
        {{"vendor", "product"}, nullptr, nullptr, 0},
        {{kelmora, "product=KELMORA+KORVEX Emulator"}, nullptr, nullptr, 0},
        {{"vendor=Trennel", "product=RX 48 Emulator"}, nullptr, nullptr, 0},
        {{"vendor=Trennel", "product=New RX 48"}, nullptr, nullptr, 0},
        {{"vendor=Trennel", "product=RX 48 RX 48"}, nullptr, nullptr, 0},
        {{"vendor=Trennel", "product=RX 4"}, nullptr, nullptr, 0},
    };
    int index = 0;
    for (const Case& c : cases) {
        const std::string name = "device " + std::to_string(index++);
        SCOPED_TRACE(c.txt.back());
        EXPECT_EQ(announce(name, c.txt), c.code != nullptr);
        const ProductPtr product = core.findProduct(name);
        ASSERT_EQ(product != nullptr, c.code != nullptr);
        if (product) {
            EXPECT_EQ(product->code, c.code);
            EXPECT_EQ(versionText(product->version.get()), c.version);
            EXPECT_EQ(product->version.get().generation, c.generation);
        }
    }
}

TEST_F(CoreProducts, NamesWithControlCharactersAreRefusedOnceEach) {
    const std::vector<std::string> txt = {"vendor=Kelmora Technologies", "product=Pelra"};
    const std::string cases[] = {"Studio\x1b[2J", std::string("Stu\0dio", 7),
                                 "Line\nbreak",   "Tab\tname",
                                 "Delete\x7f",    "C1 \xc2\x9b"};
    kv::test::StdoutCapture capture;
    for (const std::string& name : cases) {
        EXPECT_FALSE(announce(name, txt));
        EXPECT_FALSE(announce(name, txt));
    }
    EXPECT_TRUE(names().empty());
    const std::string log = capture.text();
    size_t lines = 0;
    for (size_t at = log.find("Ignoring device "); at != std::string::npos;
         at = log.find("Ignoring device ", at + 1)) {
        ++lines;
    }
    EXPECT_EQ(std::size(cases), lines);
    EXPECT_NE(std::string::npos, log.find("Studio\\027[2J"));
    EXPECT_EQ(std::string::npos, log.find_first_of(std::string("\t\x7f\0\x9b", 4)));
}

// Withdrawing such a device must not take the application's row with it either.
TEST_F(CoreProducts, ADeviceNeverTakesAnApplicationsEntry) {
    const std::vector<std::string> txt = {"vendor=Kelmora Technologies", "product=Pelra"};
    core.addProduct(code::KVPORTAL, "KVPortal", "", Version());
    for (const char* name : {"KVPortal", "VORNET", "Korvex Remote Controllers", "RX48 Toolkit"}) {
        EXPECT_FALSE(announce(name, txt)) << name;
        core.removeDevice(name);
    }
    EXPECT_EQ(std::vector<std::string>{"KVPortal"}, names());
    EXPECT_EQ(code::KVPORTAL, core.findProduct("KVPortal")->code);
    EXPECT_EQ(1u, core.findProduct("KVPortal")->presenceCount);
    ASSERT_TRUE(announce("RX 48 hall", {"vendor=Trennel", "product=RX 48"}));
    EXPECT_EQ(code::RX48_TOOLKIT_CONTROLLER, core.findProduct("RX48 Toolkit")->code);
}

TEST_F(CoreProducts, DisabledByAdministratorAddsNothing) {
    settings->set("disable_this", "1");
    EXPECT_FALSE(announce("x", {"vendor=Kelmora Technologies", "product=Vesk"}));
    EXPECT_FALSE(core.addProduct(code::KVPORTAL, "KVPortal", "", Version()));
    EXPECT_TRUE(names().empty());
    EXPECT_TRUE(listener.events().empty());
}

TEST_F(CoreProducts, EvaluateWorksOutTheStatus) {
    core.addProduct(code::PELRA_FIRMWARE, "p", "", Version(1, 0, 0, 0));
    const ProductPtr product = core.findProduct("p");
    core.setStatus(product, Evaluate);
    EXPECT_EQ(NoCloudInformation, product->status);
    product->cloud.set(release(Version(1, 0, 0, 0)));
    core.setStatus(product, Evaluate);
    EXPECT_EQ(UpToDate, product->status);
    product->cloud.set(release(Version(2, 0, 0, 0)));
    core.setStatus(product, Evaluate);
    EXPECT_EQ(ReadyToDownload, product->status);
    kv::test::writeFile(core.downloadPath(product, true), "firmware image");
    core.setStatus(product, Evaluate);
    EXPECT_EQ(ReadyToUpdate, product->status);
}

TEST_F(CoreProducts, UnchangedStatusIsNotAnnouncedAgain) {
    core.setStatus(nullptr, Evaluate);
    core.setIpcEnabled(true);
    core.addProduct(code::PELRA_FIRMWARE, "p", "", Version(1, 0, 0, 0));
    const ProductPtr product = core.findProduct("p");
    listener.clear();
    core.setStatus(product, Evaluate);
    const std::string ipcFile = environment.downloadsDir() + "/kvportal.ipc";
    ASSERT_FALSE(kv::test::readFile(ipcFile).empty());
    ::unlink(ipcFile.c_str());
    core.setStatus(product, Evaluate);
    core.setStatus(product, NoCloudInformation);
    EXPECT_EQ(std::vector<std::string>{"status p No Cloud Information"}, listener.events());
    EXPECT_EQ("", kv::test::readFile(ipcFile));
}

TEST_F(CoreProducts, StatusFileNoLongerListsARemovedProduct) {
    core.setIpcEnabled(true);
    core.addProduct(code::PELRA_FIRMWARE, "Pelra Room 1", "", Version(1, 2, 3, 4));
    core.addProduct(code::VESK_FIRMWARE, "Vesk", "", Version(0, 0, 0, 0));
    core.setStatus(core.findProduct("Vesk"), Evaluate);
    core.removeProduct("Pelra Room 1");
    EXPECT_EQ("version;1\nVesk;None;null\n",
              kv::test::readFile(environment.downloadsDir() + "/kvportal.ipc"));
}

// The list's own behaviour is the product list's test; here the core's operations over it.
TEST_F(CoreProducts, ListOperationsReachTheProductList) {
    const std::vector<std::string> korvex = {"vendor=Kelmora Technologies",
                                             "product=KELMORA+KORVEX"};
    ASSERT_TRUE(announce("Korvex 1", korvex));
    ASSERT_TRUE(announce("Korvex 1", korvex));
    core.addProduct(code::VESK_FIRMWARE, "vesk", "", Version(1, 0, 0, 0));
    core.addProduct(code::VESK_FIRMWARE, "vesk 2", "", Version(1, 0, 0, 0));
    EXPECT_EQ(core.findProduct("Korvex Remote Controllers")->presenceCount, 2u);
    EXPECT_EQ(core.findProductByCode(code::VESK_FIRMWARE)->name, "vesk");
    core.removeProduct("vesk");
    EXPECT_EQ((std::vector<std::string>{"Korvex 1", "Korvex Remote Controllers", "vesk 2"}),
              names());
    EXPECT_EQ(listener.events().back(), "removed vesk");

    core.findProduct("vesk 2")->cloud.set(release(Version(2, 0, 0, 0)));
    core.findProduct("Korvex Remote Controllers")->cloud.set(release(Version(2, 0, 0, 0)));
    int firmware = -1;
    int software = -1;
    int total = -1;
    core.countUpdates(firmware, software, total);
    EXPECT_EQ(firmware, 1);
    EXPECT_EQ(software, 1);
    EXPECT_EQ(total, 2);

    core.removeFirmwareProducts();
    EXPECT_EQ(std::vector<std::string>{"Korvex Remote Controllers"}, names());
}

TEST_F(CoreProducts, CanUpdateAllButDownloadOnlyFirmwareAndThisProgram) {
    const std::pair<ProductCode, bool> cases[] = {{code::VESK_FIRMWARE, false},
                                                  {code::PELRA_FIRMWARE, false},
                                                  {code::KVPORTAL, false},
                                                  {code::VESK_III_FIRMWARE, true},
                                                  {code::VORNET, true}};
    for (const auto& [code, updatable] : cases) {
        core.addProduct(code, code, "", Version(1, 0, 0, 0));
        EXPECT_EQ(core.canUpdate(core.findProduct(code)), updatable) << code;
    }
    EXPECT_FALSE(core.canUpdate(nullptr));
}
