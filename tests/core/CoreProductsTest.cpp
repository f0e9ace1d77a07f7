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

TEST_F(CoreProducts, KelmoraProductsMapToTheirCodes) {
    const std::pair<const char*, ProductCode> cases[] = {
        {"KELMORA+KORVEX", code::KORVEX_FIRMWARE}, {"VESK_MkII", code::VORAVERI_FIRMWARE},
        {"VESK-III", code::VESK_III_FIRMWARE},     {"Vesk", code::VESK_FIRMWARE},
        {"Pelra", code::PELRA_FIRMWARE},
    };
    for (const auto& [product, code] : cases) {
        const std::string name = std::string("device ") + product;
        EXPECT_TRUE(
            announce(name, {"vendor=Kelmora Technologies", std::string("product=") + product}));
        ASSERT_TRUE(core.findProduct(name)) << product;
        EXPECT_EQ(code, core.findProduct(name)->code) << product;
    }
}

TEST_F(CoreProducts, UnknownVendorsAndProductsAreIgnored) {
    EXPECT_FALSE(announce("a", {"vendor=Kelmora Technologies", "product=Toaster"}));
    EXPECT_FALSE(announce("b", {"vendor=kelmora technologies", "product=Vesk"}));
    EXPECT_FALSE(announce("c", {"vendor=Other", "product=Vesk"}));
    EXPECT_FALSE(announce("d", {"product=Vesk"}));
    EXPECT_TRUE(names().empty());
}

TEST_F(CoreProducts, IgnoresEmulatorProducts) {
    EXPECT_FALSE(
        announce("emu", {"vendor=Kelmora Technologies", "product=KELMORA+KORVEX Emulator"}));
    EXPECT_FALSE(announce("emu2", {"vendor=Trennel", "product=RX 48 Emulator"}));
    EXPECT_TRUE(names().empty());
}

TEST_F(CoreProducts, TrennelRx48OnlyWhenItLeadsTheProductText) {
    EXPECT_TRUE(announce("rx", {"vendor=Trennel", "product=RX 48 MkII"}));
    EXPECT_EQ(code::RX48_FIRMWARE, core.findProduct("rx")->code);
    EXPECT_FALSE(announce("rx2", {"vendor=Trennel", "product=New RX 48"}));
    EXPECT_FALSE(announce("rx3", {"vendor=Trennel", "product=RX 48 RX 48"}));
    EXPECT_FALSE(announce("rx4", {"vendor=Trennel", "product=RX 4"}));
    EXPECT_FALSE(core.findProduct("rx2"));
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

TEST_F(CoreProducts, TxtKeyWithoutValueReadsAsEmpty) {
    EXPECT_FALSE(announce("bare", {"vendor", "product"}));
    EXPECT_TRUE(announce("bare2", {"vendor=Kelmora Technologies", "product=Pelra", "version"}));
    EXPECT_EQ("None", versionText(core.findProduct("bare2")->version.get()));
}

TEST_F(CoreProducts, VersionAndGenerationComeFromTxt) {
    ASSERT_TRUE(announce("v", {"vendor=Kelmora Technologies", "product=Pelra", "version=1.2.3b45",
                               "firmware_generation=3"}));
    const Version version = core.findProduct("v")->version.get();
    EXPECT_EQ("1.2.3 b45", versionText(version));
    EXPECT_EQ(3u, version.generation);
    ASSERT_TRUE(announce("huge", {"vendor=Kelmora Technologies", "product=Pelra",
                                  "firmware_generation=1099511627776"}));
    EXPECT_EQ(4294967295u, core.findProduct("huge")->version.get().generation);
}

TEST_F(CoreProducts, DeviceAnnouncedTwiceIsAddedOnce) {
    const std::vector<std::string> txt = {"vendor=Kelmora Technologies", "product=Vesk"};
    announce("Studio B", txt);
    announce("Studio B", txt);
    EXPECT_EQ(2u, core.findProduct("Studio B")->presenceCount);
    EXPECT_EQ(std::vector<std::string>{"added Studio B"}, listener.events());
}

TEST_F(CoreProducts, KorvexBringsItsCompanionOnce) {
    const std::vector<std::string> txt = {"vendor=Kelmora Technologies", "product=KELMORA+KORVEX"};
    announce("Korvex 1", txt);
    announce("Korvex 1", txt);
    EXPECT_EQ((std::vector<std::string>{"Korvex 1", "Korvex Remote Controllers"}), names());
    const ProductPtr companion = core.findProduct("Korvex Remote Controllers");
    EXPECT_EQ(code::KORVEX_REMOTE_CONTROLLER, companion->code);
    EXPECT_EQ(2u, companion->presenceCount);
    EXPECT_EQ((std::vector<std::string>{"added Korvex 1", "added Korvex Remote Controllers"}),
              listener.events());
}

TEST_F(CoreProducts, Rx48BringsTheToolkit) {
    announce("rx", {"vendor=Trennel", "product=RX 48"});
    EXPECT_EQ(code::RX48_TOOLKIT_CONTROLLER, core.findProduct("RX48 Toolkit")->code);
}

TEST_F(CoreProducts, DisabledByAdministratorAddsNothing) {
    settings->set("disable_this", "1");
    EXPECT_FALSE(announce("x", {"vendor=Kelmora Technologies", "product=Vesk"}));
    EXPECT_FALSE(core.addProduct(code::KVPORTAL, "KVPortal", "", Version()));
    EXPECT_TRUE(names().empty());
    EXPECT_TRUE(listener.events().empty());
}

TEST_F(CoreProducts, RemovedProductLeavesAndIsAnnounced) {
    announce("a", {"vendor=Kelmora Technologies", "product=Vesk"});
    announce("b", {"vendor=Kelmora Technologies", "product=Pelra"});
    announce("c", {"vendor=Kelmora Technologies", "product=Vesk"});
    listener.clear();
    core.removeProduct("b");
    core.removeProduct("unknown");
    EXPECT_EQ((std::vector<std::string>{"a", "c"}), names());
    EXPECT_EQ(std::vector<std::string>{"removed b"}, listener.events());
}

TEST_F(CoreProducts, FindByCodeReturnsFirstInListOrder) {
    core.addProduct(code::VESK_FIRMWARE, "first", "", Version(1, 0, 0, 0));
    core.addProduct(code::VESK_FIRMWARE, "second", "", Version(1, 0, 0, 0));
    EXPECT_EQ("first", core.findProductByCode(code::VESK_FIRMWARE)->name);
    EXPECT_FALSE(core.findProductByCode(code::PELRA_FIRMWARE));
}

TEST_F(CoreProducts, ListenersAreCalledInRegistrationOrderOnce) {
    struct Named : Core::Listener {
        Named(std::vector<std::string>& log, std::string name)
            : log_(log), name_(std::move(name)) {}
        void productAdded(Core*, ProductPtr) override { log_.push_back(name_); }
        std::vector<std::string>& log_;
        std::string name_;
    };
    std::vector<std::string> log;
    Named first(log, "first");
    Named second(log, "second");
    core.addListener(&first);
    core.addListener(&second);
    core.addListener(&first);
    core.addProduct(code::PELRA_FIRMWARE, "p", "", Version(1, 0, 0, 0));
    core.removeListener(&first);
    core.addProduct(code::PELRA_FIRMWARE, "q", "", Version(1, 0, 0, 0));
    core.removeListener(&second);
    EXPECT_EQ((std::vector<std::string>{"first", "second", "second"}), log);
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

TEST_F(CoreProducts, NullProductStatusIsIgnored) {
    core.setStatus(nullptr, Evaluate);
    EXPECT_TRUE(listener.events().empty());
}

TEST_F(CoreProducts, StatusFileListsEveryProductWithReleasedVersion) {
    core.setIpcEnabled(true);
    core.addProduct(code::PELRA_FIRMWARE, "Pelra Room 1", "", Version(1, 2, 3, 4));
    core.addProduct(code::VESK_FIRMWARE, "Vesk", "", Version(0, 0, 0, 0));
    const ProductPtr pelra = core.findProduct("Pelra Room 1");
    pelra->cloud.set(release(Version(1, 3, 0, 7)));
    core.setStatus(pelra, Evaluate);
    EXPECT_EQ("version;1\nPelra Room 1;1.2.3 b4;1.3.0 b7\nVesk;None;null\n",
              kv::test::readFile(environment.downloadsDir() + "/kvportal.ipc"));
}

// Device names are the users' own: whatever they hold, each line stays one product of three
// fields, and the name can be read back by undoing the %XX escapes.
TEST_F(CoreProducts, StatusFileEscapesWhatWouldBreakItsLines) {
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
    core.setIpcEnabled(true);
    std::string expected = "version;1\n";
    for (const auto& [name, written] : names) {
        core.addProduct(code::VESK_FIRMWARE, name, "", Version(1, 0, 0, 0));
        expected += std::string(written) + ";1.0.0 b0;null\n";
    }
    core.setStatus(core.findProduct("Room;2"), Evaluate);
    EXPECT_EQ(expected, kv::test::readFile(environment.downloadsDir() + "/kvportal.ipc"));
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

TEST_F(CoreProducts, StatusFileIsWrittenOnlyWhenEnabled) {
    core.addProduct(code::PELRA_FIRMWARE, "p", "", Version(1, 0, 0, 0));
    core.setStatus(core.findProduct("p"), Evaluate);
    EXPECT_EQ("", kv::test::readFile(environment.downloadsDir() + "/kvportal.ipc"));
}

TEST_F(CoreProducts, StatusFileIsNeverWrittenThroughASymbolicLink) {
    const std::string victim = environment.home() + "/.bashrc";
    const std::string ipcFile = environment.downloadsDir() + "/kvportal.ipc";
    kv::test::writeFile(victim, "keep");
    std::filesystem::create_symlink(victim, ipcFile + ".new");
    core.setIpcEnabled(true);
    core.addProduct(code::PELRA_FIRMWARE, "p", "", Version(1, 0, 0, 0));
    core.setStatus(core.findProduct("p"), Evaluate);
    EXPECT_EQ("keep", kv::test::readFile(victim));
    EXPECT_FALSE(std::filesystem::is_symlink(ipcFile));
    EXPECT_EQ("version;1\np;1.0.0 b0;null\n", kv::test::readFile(ipcFile));
}

// Other programs read the status file whenever they like: each read finds a whole file.
TEST_F(CoreProducts, StatusFileIsNeverSeenHalfWritten) {
    core.setIpcEnabled(true);
    constexpr int kProducts = 300;
    for (int i = 0; i < kProducts; ++i) {
        core.addProduct(code::PELRA_FIRMWARE, "Pelra studio room " + std::to_string(i), "",
                        Version(1, 2, 3, static_cast<uint32_t>(i)));
    }
    const ProductPtr product = core.findProduct("Pelra studio room 0");
    const std::string ipcFile = environment.downloadsDir() + "/kvportal.ipc";
    core.setStatus(product, UpToDate);

    std::atomic<bool> writing{true};
    std::vector<std::string> broken;
    int reads = 0;
    std::thread reader([&] {
        while (writing) {
            const std::string content = kv::test::readFile(ipcFile);
            ++reads;
            if (std::count(content.begin(), content.end(), '\n') != kProducts + 1 ||
                content.back() != '\n') {
                broken.push_back(content);
            }
        }
    });
    for (int i = 0; i < 1000; ++i) {
        core.setStatus(product, i % 2 ? UpToDate : NoCloudInformation);
    }
    writing = false;
    reader.join();

    EXPECT_GT(reads, 0);
    EXPECT_TRUE(broken.empty()) << broken.size() << " of " << reads << " reads, the first "
                                << broken.front().size() << " bytes long";
    EXPECT_FALSE(std::filesystem::exists(ipcFile + ".new"));
}

TEST_F(CoreProducts, CanUpdateAllButDownloadOnlyFirmwareAndThisProgram) {
    core.addProduct(code::VESK_FIRMWARE, "vesk", "", Version(1, 0, 0, 0));
    core.addProduct(code::PELRA_FIRMWARE, "pelra", "", Version(1, 0, 0, 0));
    core.addProduct(code::KVPORTAL, "KVPortal", "", Version());
    core.addProduct(code::VESK_III_FIRMWARE, "vesk3", "", Version(1, 0, 0, 0));
    EXPECT_FALSE(core.canUpdate(core.findProduct("vesk")));
    EXPECT_FALSE(core.canUpdate(core.findProduct("pelra")));
    EXPECT_FALSE(core.canUpdate(core.findProduct("KVPortal"))) << "a newer package replaces it";
    EXPECT_TRUE(core.canUpdate(core.findProduct("vesk3")));
}

TEST_F(CoreProducts, ListenerMayRegisterListenersWhileCalled) {
    struct Growing : Core::Listener {
        explicit Growing(Core& core) : core_(core) {}
        void productAdded(Core*, ProductPtr) override {
            for (auto& other : others_) {
                core_.addListener(&other);
            }
        }
        Core& core_;
        RecordingListener others_[32];
    };
    Growing growing(core);
    core.addListener(&growing);
    core.addProduct(code::PELRA_FIRMWARE, "p", "", Version(1, 0, 0, 0));
    core.addProduct(code::PELRA_FIRMWARE, "q", "", Version(1, 0, 0, 0));
    core.removeListener(&growing);
    for (auto& other : growing.others_) {
        core.removeListener(&other);
        // Registered during the first announcement, behind the caller: they hear it too.
        EXPECT_EQ((std::vector<std::string>{"added p", "added q"}), other.events());
    }
}
