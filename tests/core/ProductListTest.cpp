#include "core/products/ProductList.h"

#include "RecordingListener.h"
#include "TempDir.h"
#include "core/statusfile/StatusFileWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

using namespace kv::portal;
using kv::test::RecordingListener;

namespace {

class ProductListTest : public ::testing::Test {
protected:
    ProductListTest() { list.addListener(&listener); }
    ~ProductListTest() override { list.removeListener(&listener); }

    ProductPtr add(ProductCode code, const std::string& name) {
        list.add(code, name, "", Version(1, 0, 0, 0));
        return list.find(name);
    }
    std::vector<std::string> names() const {
        std::vector<std::string> result;
        for (const ProductPtr& product : list.snapshot()) {
            result.push_back(product->name);
        }
        return result;
    }

    ProductList list{nullptr};
    RecordingListener listener;
};

TEST_F(ProductListTest, AnnouncementsCountOnceAndCompanionsComeWithTheirDevice) {
    struct Case {
        ProductCode code;
        const char* companion;
    };
    const Case cases[] = {{code::KORVEX_FIRMWARE, "Korvex Remote Controllers"},
                          {code::RX48_FIRMWARE, "RX48 Toolkit"},
                          {code::VESK_FIRMWARE, nullptr}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        ProductList products(nullptr);
        RecordingListener heard;
        products.addListener(&heard);
        EXPECT_EQ(products.add(c.code, "Device", "", Version()).size(), c.companion ? 2u : 1u);
        EXPECT_TRUE(products.add(c.code, "Device", "", Version()).empty());
        EXPECT_EQ(products.find("Device")->presenceCount, 2u);
        std::vector<std::string> expected = {"added Device"};
        if (c.companion != nullptr) {
            EXPECT_EQ(products.find(c.companion)->code, companionCode(c.code));
            EXPECT_EQ(products.find(c.companion)->presenceCount, 2u);
            expected.push_back(std::string("added ") + c.companion);
        }
        EXPECT_EQ(heard.events(), expected);
        products.removeListener(&heard);
    }
}

TEST_F(ProductListTest, RemovedProductLeavesAndIsAnnouncedOnce) {
    add(code::VESK_FIRMWARE, "a");
    add(code::PELRA_FIRMWARE, "b");
    add(code::VESK_FIRMWARE, "c");
    listener.clear();
    EXPECT_TRUE(list.remove("b"));
    EXPECT_FALSE(list.remove("unknown"));
    EXPECT_EQ(names(), (std::vector<std::string>{"a", "c"}));
    EXPECT_EQ(listener.events(), std::vector<std::string>{"removed b"});
}

TEST_F(ProductListTest, LookupsFindTwinsAndTheFirstOfACode) {
    const ProductPtr first = add(code::VESK_III_FIRMWARE, "first");
    add(code::VESK_III_FIRMWARE, "second");
    const auto twin =
        std::make_shared<Product>(code::VESK_III_FIRMWARE_DANTE, "dante_first", "", Version());
    twin->running = true;
    EXPECT_TRUE(list.setProbed(first, "SN-1", twin));

    EXPECT_EQ(list.find("dante_first"), twin);
    EXPECT_EQ(twin->serial.get(), "SN-1");
    EXPECT_FALSE(first->running);
    EXPECT_EQ(list.findByCode(code::VESK_III_FIRMWARE), first);
    EXPECT_FALSE(list.findByCode(code::VESK_III_FIRMWARE_DANTE)) << "twins are not searched";
    EXPECT_FALSE(list.find("nobody"));
    EXPECT_EQ(listener.events().back(), "probed first");

    // A device that left before its probe answered takes nothing from it.
    list.remove("second");
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
        explicit Growing(ProductList& products) : products_(products) {}
        void productAdded(Core*, ProductPtr) override {
            for (auto& other : others_) {
                products_.addListener(&other);
            }
        }
        ProductList& products_;
        RecordingListener others_[32];
    };
    RecordingListener second;
    Growing growing(list);
    list.addListener(&second);
    list.addListener(&listener);
    list.addListener(&growing);
    add(code::PELRA_FIRMWARE, "p");
    list.removeListener(&listener);
    add(code::PELRA_FIRMWARE, "q");
    list.removeListener(&growing);
    list.removeListener(&second);

    EXPECT_EQ(listener.events(), std::vector<std::string>{"added p"});
    EXPECT_EQ(second.events(), (std::vector<std::string>{"added p", "added q"}));
    for (auto& other : growing.others_) {
        list.removeListener(&other);
        // Registered during the first announcement, behind the caller: they hear it too.
        EXPECT_EQ(other.events(), (std::vector<std::string>{"added p", "added q"}));
    }
}

class StatusFileTest : public ProductListTest {
protected:
    std::string read() const { return kv::test::readFile(path()); }
    std::string path() const { return folder.file("kvportal.ipc"); }

    kv::test::TempDir folder;
    StatusFileWriter writer{list, [this] { return folder.path(); }};
};

// Device names are the users' own: whatever they hold, each line stays one product of three
// fields, and the name can be read back by undoing the %XX escapes.
TEST_F(StatusFileTest, ListsEveryProductAndEscapesWhatWouldBreakItsLines) {
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
    list.add(code::PELRA_FIRMWARE, "Pelra Room 1", "", Version(1, 2, 3, 4));
    auto release = std::make_shared<Product::Cloud>();
    release->version = Version(1, 3, 0, 7);
    list.find("Pelra Room 1")->cloud.set(release);
    list.add(code::VESK_FIRMWARE, "Vesk", "", Version(0, 0, 0, 0));
    std::string expected = "version;1\nPelra Room 1;1.2.3 b4;1.3.0 b7\nVesk;None;null\n";
    for (const auto& [name, written] : names) {
        list.add(code::VESK_FIRMWARE, name, "", Version(1, 0, 0, 0));
        expected += std::string(written) + ";1.0.0 b0;null\n";
    }

    writer.write();
    EXPECT_EQ(read(), "") << "written only once enabled";
    writer.setEnabled(true);
    writer.write();
    EXPECT_EQ(read(), expected);
}

TEST_F(StatusFileTest, BatchesHoldWritesBackAndWriteOnceWhenTheLastCloses) {
    writer.setEnabled(true);
    add(code::PELRA_FIRMWARE, "p");
    {
        StatusFileWriter::Batch outer(writer);
        {
            StatusFileWriter::Batch inner(writer);
            writer.write();
        }
        EXPECT_EQ(read(), "");
    }
    EXPECT_EQ(read(), "version;1\np;1.0.0 b0;null\n");
    std::filesystem::remove(path());
    { StatusFileWriter::Batch nothingOwed(writer); }
    EXPECT_FALSE(std::filesystem::exists(path()));
}

TEST_F(StatusFileTest, IsNeverWrittenThroughASymbolicLink) {
    const std::string victim = folder.file("victim");
    kv::test::writeFile(victim, "keep");
    std::filesystem::create_symlink(victim, path() + ".new");
    writer.setEnabled(true);
    add(code::PELRA_FIRMWARE, "p");
    writer.write();
    EXPECT_EQ(kv::test::readFile(victim), "keep");
    EXPECT_FALSE(std::filesystem::is_symlink(path()));
    EXPECT_EQ(read(), "version;1\np;1.0.0 b0;null\n");
}

// Other programs read the status file whenever they like: each read finds a whole file.
TEST_F(StatusFileTest, IsNeverSeenHalfWritten) {
    writer.setEnabled(true);
    constexpr int kProducts = 300;
    for (int i = 0; i < kProducts; ++i) {
        list.add(code::PELRA_FIRMWARE, "Pelra studio room " + std::to_string(i), "",
                 Version(1, 2, 3, static_cast<uint32_t>(i)));
    }
    writer.write();

    std::atomic<bool> writing{true};
    std::vector<std::string> broken;
    int reads = 0;
    std::thread reader([&] {
        while (writing) {
            const std::string content = read();
            ++reads;
            if (std::count(content.begin(), content.end(), '\n') != kProducts + 1) {
                broken.push_back(content);
            }
        }
    });
    for (int i = 0; i < 1000; ++i) {
        writer.write();
    }
    writing = false;
    reader.join();

    EXPECT_GT(reads, 0);
    EXPECT_TRUE(broken.empty()) << broken.size() << " of " << reads << " reads";
    EXPECT_FALSE(std::filesystem::exists(path() + ".new"));
}

} // namespace
