#include "CoreTestEnvironment.h"
#include "FixedSettings.h"
#include "RecordingListener.h"
#include "StdoutCapture.h"
#include "core/products/ProductList.h"
#include "core/statusfile/StatusFileWriter.h"

#include <gtest/gtest.h>
#include <sys/time.h>

#include <filesystem>
#include <sstream>

using namespace kv::portal;
using kv::test::readFile;
using kv::test::RecordingListener;
using Names = std::vector<std::string>;
namespace fs = std::filesystem;

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

    bool announce(const std::string& name, const Names& txt) {
        return core.addDevice(name, "", txt);
    }
    Names names() {
        Names result;
        core.forEachProduct([&](const ProductPtr& product) {
            result.push_back(product->name);
            return true;
        });
        return result;
    }
    ProductPtr add(ProductCode code, const std::string& name, const Version& version = {}) {
        core.addProduct(code, name, "", version);
        return core.findProduct(name);
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

const std::string kKelmora = "vendor=Kelmora Technologies";

} // namespace

// TXT entries, "|" between them, and the product they make: its code, version and generation.
TEST_F(CoreProducts, DevicesAreClassifiedByTheirTxtRecord) {
    const std::pair<std::string, const char*> cases[] = {
        {"K|product=KELMORA+KORVEX", "KORVEX-FIRMWARE None 1"},
        {"K|product=VESK_MkII", "VORAVERI-FIRMWARE None 1"},
        {"K|product=VESK-III", "VESK-III-FIRMWARE None 1"},
        {"K|product=Vesk", "VESK-FIRMWARE None 1"},
        {"K|product=Pelra|version=1.2.3b45|firmware_generation=3", "PELRA-FIRMWARE 1.2.3 b45 3"},
        {"K|product=Pelra|firmware_generation=1099511627776", "PELRA-FIRMWARE None 4294967295"},
        {"K|product=Pelra|version", "PELRA-FIRMWARE None 1"},
        {"vendor=Trennel|product=RX 48 MkII", "RX48-FIRMWARE None 1"},
        {"K|product=Toaster", ""},
        {"vendor=kelmora technologies|product=Vesk", ""},
        {"vendor=Other|product=Vesk", ""},
        {"product=Vesk", ""},
        {"vendor|product", ""},
        {"K|product=KELMORA+KORVEX Emulator", ""},
        {"vendor=Trennel|product=RX 48 Emulator", ""},
        {"vendor=Trennel|product=New RX 48", ""},
        {"vendor=Trennel|product=RX 48 RX 48", ""},
        {"vendor=Trennel|product=RX 4", ""},
    };
    int index = 0;
    for (const auto& [record, made] : cases) {
        Names txt;
        std::istringstream entries(record);
        for (std::string entry; std::getline(entries, entry, '|');) {
            txt.push_back(entry == "K" ? kKelmora : entry);
        }
        const std::string name = "device " + std::to_string(index++);
        EXPECT_EQ(announce(name, txt), *made != '\0') << record;
        const ProductPtr product = core.findProduct(name);
        EXPECT_EQ(product ? product->code + (" " + versionText(product->version.get())) + " " +
                                std::to_string(product->version.get().generation)
                          : "",
                  made)
            << record;
    }
}

TEST_F(CoreProducts, NamesWithControlCharactersAreRefusedOnceEach) {
    const std::string cases[] = {"Studio\x1b[2J", std::string("Stu\0dio", 7),
                                 "Line\nbreak",   "Tab\tname",
                                 "Delete\x7f",    "C1 \xc2\x9b"};
    kv::test::StdoutCapture capture;
    for (const std::string& name : cases) {
        EXPECT_FALSE(announce(name, {kKelmora, "product=Pelra"}));
        EXPECT_FALSE(announce(name, {kKelmora, "product=Pelra"}));
    }
    EXPECT_TRUE(names().empty());
    const std::string log = capture.text();
    size_t lines = 0;
    for (size_t at = 0; (at = log.find("Ignoring device ", at)) != std::string::npos; ++at) {
        ++lines;
    }
    EXPECT_EQ(std::size(cases), lines);
    EXPECT_NE(std::string::npos, log.find("Studio\\027[2J"));
    EXPECT_EQ(std::string::npos, log.find_first_of(std::string("\t\x7f\0\x9b", 4)));
}

// Nor does withdrawing such a device take the application's row with it.
TEST_F(CoreProducts, ADeviceNeverTakesAnApplicationsEntry) {
    add(code::KVPORTAL, "KVPortal");
    for (const char* name : {"KVPortal", "VORNET", "Korvex Remote Controllers", "RX48 Toolkit"}) {
        EXPECT_FALSE(announce(name, {kKelmora, "product=Pelra"})) << name;
        core.removeDevice(name);
    }
    EXPECT_EQ(Names{"KVPortal"}, names());
    EXPECT_EQ(code::KVPORTAL, core.findProduct("KVPortal")->code);
    EXPECT_EQ(1u, core.findProduct("KVPortal")->presenceCount);
    ASSERT_TRUE(announce("RX 48 hall", {"vendor=Trennel", "product=RX 48"}));
    EXPECT_EQ(code::RX48_TOOLKIT_CONTROLLER, core.findProduct("RX48 Toolkit")->code);
}

TEST_F(CoreProducts, DisabledByAdministratorAddsNothing) {
    settings->set("disable_this", "1");
    EXPECT_FALSE(announce("x", {kKelmora, "product=Vesk"}));
    EXPECT_FALSE(core.addProduct(code::KVPORTAL, "KVPortal", "", Version()));
    EXPECT_TRUE(names().empty());
    EXPECT_TRUE(listener.events().empty());
}

// Each status is announced once, and the status file written, only when it changes.
TEST_F(CoreProducts, EvaluateWorksOutTheStatusAndAnnouncesOnlyAChange) {
    core.setStatus(nullptr, Evaluate);
    core.setIpcEnabled(true);
    const ProductPtr product = add(code::PELRA_FIRMWARE, "p", Version(1, 0, 0, 0));
    const std::string ipcFile = environment.downloadsDir() + "/kvportal.ipc";
    const std::tuple<std::function<void()>, const char*, bool> steps[] = {
        {[] {}, "No Cloud Information", true},
        {[] {}, "No Cloud Information", false},
        {[&] { product->cloud.set(release(Version(2, 0, 0, 0))); }, "Ready To Download", true},
    };
    listener.clear();
    for (const auto& [change, status, changes] : steps) {
        fs::remove(ipcFile);
        change();
        core.setStatus(product, Evaluate);
        EXPECT_EQ(product->statusText(), status);
        EXPECT_EQ(listener.events().back(), std::string("status p ") + status);
        EXPECT_EQ(fs::exists(ipcFile), changes) << status;
    }
    EXPECT_EQ(listener.events().size(), 2u);
}

// The list's own behaviour is the product list's test; here the core's operations over it.
TEST_F(CoreProducts, ListOperationsReachTheProductList) {
    core.setIpcEnabled(true);
    const Names korvex = {kKelmora, "product=KELMORA+KORVEX"};
    ASSERT_TRUE(announce("Korvex 1", korvex));
    ASSERT_TRUE(announce("Korvex 1", korvex));
    add(code::VESK_FIRMWARE, "vesk", Version(1, 0, 0, 0));
    add(code::VESK_FIRMWARE, "vesk 2", Version(1, 0, 0, 0));
    EXPECT_EQ(core.findProduct("Korvex 1")->presenceCount, 2u);
    EXPECT_EQ(core.findProduct("Korvex Remote Controllers")->presenceCount, 2u);
    EXPECT_EQ(core.findProductByCode(code::VESK_FIRMWARE)->name, "vesk");
    core.removeProduct("vesk");
    core.removeProduct("unknown");
    EXPECT_EQ((Names{"Korvex 1", "Korvex Remote Controllers", "vesk 2"}), names());
    EXPECT_EQ(listener.startingWith("added "), (Names{"added Korvex 1",
                                                      "added Korvex Remote "
                                                      "Controllers",
                                                      "added vesk", "added vesk 2"}));
    EXPECT_EQ(listener.startingWith("removed "), Names{"removed vesk"});
    core.setStatus(core.findProduct("vesk 2"), Evaluate);
    EXPECT_EQ(readFile(environment.downloadsDir() + "/kvportal.ipc"),
              "version;1\nKorvex 1;None;null\nKorvex Remote Controllers;None;null\n"
              "vesk 2;1.0.0 b0;null\n");

    core.findProduct("vesk 2")->cloud.set(release(Version(2, 0, 0, 0)));
    core.findProduct("Korvex Remote Controllers")->cloud.set(release(Version(2, 0, 0, 0)));
    int firmware = -1, software = -1, total = -1;
    core.countUpdates(firmware, software, total);
    EXPECT_EQ(std::make_tuple(firmware, software, total), std::make_tuple(1, 1, 2));
    core.removeFirmwareProducts();
    EXPECT_EQ(Names{"Korvex Remote Controllers"}, names());
    EXPECT_FALSE(core.canUpdate(nullptr));
}

// Applications read their version from the executable's resource, once per change of the file.
TEST_F(CoreProducts, InstalledApplicationsShowTheVersionOfTheirExecutable) {
    const auto install = [&](const std::string& peFile, const std::string& relativePath) {
        const std::string path = environment.home() + "/Program Files/" + relativePath;
        fs::create_directories(fs::path(path).parent_path());
        fs::copy_file(std::string(KV_TEST_PE_DIR) + "/" + peFile, path,
                      fs::copy_options::overwrite_existing);
        return path;
    };
    const std::string path = install("application.exe", "Kelmora Technologies/VORNET/VORNET.exe");
    install("application.exe", "Kelmora Technologies/KVPortal/KVPortal.exe");
    install("legacy.exe", "Trennel RX 48 Toolkit/RX 48 Agent/RX48Agent.exe");
    install("unversioned.exe", "Kelmora Technologies/KVDiscovery/KVDiscovery.exe");
    const ProductPtr vornet = add(code::VORNET, "VORNET");
    const ProductPtr portal = add(code::KVPORTAL, "KVPortal");
    ASSERT_TRUE(announce("rx", {"vendor=Trennel", "product=RX 48"}));
    EXPECT_EQ("4.3.2 b1", versionText(vornet->version.get()));
    EXPECT_EQ(path, vornet->address.get());
    EXPECT_EQ(KV_BUILT_VERSION, versionText(portal->version.get()));
    EXPECT_EQ(fs::canonical("/proc/self/exe").string(), portal->address.get());
    EXPECT_FALSE(portal->refreshInstalledVersion()) << "it cannot change while it runs";
    EXPECT_EQ("1.2.3 b4", versionText(core.findProduct("RX48 Toolkit")->version.get()));
    EXPECT_EQ("None", versionText(add(code::KVDISCOVERY, "KVDiscovery")->version.get()));

    EXPECT_FALSE(vornet->refreshInstalledVersion());
    install("legacy.exe", "Kelmora Technologies/VORNET/VORNET.exe");
    const timeval later[2] = {{2000000000, 0}, {2000000000, 0}};
    ASSERT_EQ(0, ::utimes(path.c_str(), later));
    EXPECT_TRUE(vornet->refreshInstalledVersion());
    EXPECT_EQ("1.2.3 b4", versionText(vornet->version.get()));
    EXPECT_EQ(2000000000, vornet->version.get().fileTime);
    // A removed executable leaves the last version read.
    fs::remove(path);
    EXPECT_FALSE(vornet->refreshInstalledVersion());
    EXPECT_EQ("1.2.3 b4", versionText(vornet->version.get()));
}

// The product list's own behaviour, below the core.
class ProductListTest : public ::testing::Test {
protected:
    ProductListTest() { list.addListener(&listener); }
    ~ProductListTest() override { list.removeListener(&listener); }

    ProductPtr add(ProductCode code, const std::string& name) {
        list.add(code, name, "", Version(1, 0, 0, 0));
        return list.find(name);
    }

    ProductList list{nullptr};
    RecordingListener listener;
};

TEST_F(ProductListTest, LookupsFindTwinsAndTheFirstOfACode) {
    const ProductPtr first = add(code::VESK_III_FIRMWARE, "first");
    add(code::VESK_III_FIRMWARE, "second");
    EXPECT_EQ(list.add(code::VESK_III_FIRMWARE, "second", "", Version()).size(), 0u);
    EXPECT_TRUE(list.remove("second"));
    EXPECT_FALSE(list.remove("second"));
    const auto twin =
        std::make_shared<Product>(code::VESK_III_FIRMWARE_DANTE, "dante_first", "", Version());
    twin->running = true;
    EXPECT_TRUE(list.setProbed(first, "SN-1", twin));

    EXPECT_EQ(list.findByCode(code::VESK_III_FIRMWARE), first);
    EXPECT_FALSE(list.findByCode(code::VESK_III_FIRMWARE_DANTE)) << "twins are not searched";
    EXPECT_FALSE(list.find("nobody"));
    EXPECT_EQ(listener.events(),
              (Names{"added first", "added second", "removed second", "probed first"}));
    // A device that left before its probe answered takes nothing from it.
    const ProductPtr gone = std::make_shared<Product>(code::VESK_FIRMWARE, "gone", "", Version());
    EXPECT_FALSE(list.setProbed(gone, "SN-2", nullptr));
    EXPECT_EQ(gone->serial.get(), "");
    int visited = 0;
    add(code::PELRA_FIRMWARE, "third");
    list.forEach([&](const ProductPtr&) { return ++visited < 1; });
    EXPECT_EQ(visited, 1);
}

TEST_F(ProductListTest, ListenersAreCalledInRegistrationOrderAndMayRegisterOthers) {
    struct Growing : Core::Listener {
        void productAdded(Core*, ProductPtr) override {
            for (auto& other : others_) {
                products_->addListener(&other);
            }
        }
        ProductList* products_ = nullptr;
        RecordingListener others_[32];
    } growing;
    growing.products_ = &list;
    RecordingListener second;
    list.addListener(&second);
    list.addListener(&listener);
    list.addListener(&growing);
    add(code::PELRA_FIRMWARE, "p");
    list.removeListener(&listener);
    add(code::PELRA_FIRMWARE, "q");
    list.removeListener(&growing);
    list.removeListener(&second);

    EXPECT_EQ(listener.events(), Names{"added p"});
    EXPECT_EQ(second.events(), (Names{"added p", "added q"}));
    for (auto& other : growing.others_) {
        list.removeListener(&other);
        // Registered during the first announcement, behind the caller: they hear it too.
        EXPECT_EQ(other.events(), (Names{"added p", "added q"}));
    }
}

// Device names are the users' own: whatever they hold, each line stays one product of three
// fields, and the name can be read back by undoing the %XX escapes. Batches hold writes back
// and write once when the last closes, and only when a write is owed.
TEST_F(ProductListTest, StatusFileListsEveryProductAndEscapesWhatWouldBreakItsLines) {
    const kv::test::TempDir folder;
    StatusFileWriter writer{list, [&] { return folder.path(); }};
    const std::pair<const char*, const char*> names[] = {
        {"Room;2", "Room%3B2"},
        {"A;;%B", "A%3B%3B%25B"},
        {"Stage\nLeft", "Stage%0ALeft"},
        {"Stage\r\nRight", "Stage%0D%0ARight"},
        {"100% Hall", "100%25 Hall"},
        {"Bell\a\x7f", "Bell%07%7F"},
        {"Next\xc2\x85Line \xe2\x80\xa8 \xe2\x80\xa9", "Next%C2%85Line %E2%80%A8 %E2%80%A9"},
        {"Caf\xc3\xa9 \xe2\x80\x94 Room", "Caf\xc3\xa9 \xe2\x80\x94 Room"},
    };
    add(code::PELRA_FIRMWARE, "Pelra Room 1");
    list.find("Pelra Room 1")->cloud.set(release(Version(1, 3, 0, 7)));
    list.add(code::VESK_FIRMWARE, "Vesk", "", Version(0, 0, 0, 0));
    std::string expected = "version;1\nPelra Room 1;1.0.0 b0;1.3.0 b7\nVesk;None;null\n";
    for (const auto& [name, written] : names) {
        add(code::VESK_FIRMWARE, name);
        expected += std::string(written) + ";1.0.0 b0;null\n";
    }
    const std::string path = folder.file("kvportal.ipc");
    writer.write();
    EXPECT_FALSE(fs::exists(path)) << "written only once enabled";
    writer.setEnabled(true);
    {
        StatusFileWriter::Batch outer(writer);
        {
            StatusFileWriter::Batch inner(writer);
            writer.write();
        }
        EXPECT_FALSE(fs::exists(path));
    }
    EXPECT_EQ(readFile(path), expected);
    fs::remove(path);
    { StatusFileWriter::Batch nothingOwed(writer); }
    EXPECT_FALSE(fs::exists(path));
}
