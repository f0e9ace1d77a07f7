#include "SyncFixture.h"

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace kv::portal;

const char kFirst[] =
    R"({"products":[{"ID":"KORVEX-FIRMWARE","IV":"2.0.0b1","IF":"first.img","LK":"1"},)"
    R"({"ID":"KORVEX-REMOTE-CONTROLLER","IV":"5.0.0b1","IF":"remote-5.exe","LK":"r"}]})";
const char kSecond[] =
    R"({"products":[{"ID":"KORVEX-FIRMWARE","IV":"3.0.0b2","GN":3,"IF":"final.img","LK":"3"},)"
    R"({"ID":"KORVEX-REMOTE-CONTROLLER","IV":"6.0.0b1","IF":"remote-6.exe","LK":"r"}],)"
    R"("firmware_generations":[{"ID":"KORVEX-FIRMWARE","GN":2,"IV":"2.5.0","IF":"step.img",)"
    R"("LK":"2"}]})";

// A record a reader sees must be one the sync built whole: its version and file belong together.
bool wholeRecord(const Product::Cloud& cloud) {
    const std::string version = versionText(cloud.version);
    return (version == "2.0.0 b1" && cloud.fileName == "first.img") ||
           (version == "3.0.0 b2" && cloud.fileName == "step.img") ||
           (version == "5.0.0 b1" && cloud.fileName == "remote-5.exe") ||
           (version == "6.0.0 b1" && cloud.fileName == "remote-6.exe");
}

class SyncStress : public kv::test::SyncTest {};

TEST_F(SyncStress, ReadersSeeWholeRecordsWhileSyncsReplaceThem) {
    std::vector<ProductPtr> products;
    for (int i = 0; i < 4; ++i) {
        products.push_back(
            addProduct(code::KORVEX_FIRMWARE, "Korvex " + std::to_string(i), "1.0.0", 1));
    }
    products.push_back(core->findProduct("Korvex Remote Controllers"));

    std::atomic<bool> stop{false};
    std::atomic<long> reads{0};
    std::atomic<long> torn{0};
    std::vector<std::thread> readers;
    for (int r = 0; r < 3; ++r) {
        readers.emplace_back([&] {
            while (!stop) {
                for (const ProductPtr& product : products) {
                    if (const Product::CloudPtr cloud = product->cloud.get()) {
                        torn += wholeRecord(*cloud) ? 0 : 1;
                        ++reads;
                    }
                    const std::string note = product->note.get();
                    torn += (note.empty() || note.rfind("Note: The released", 0) == 0) ? 0 : 1;
                    product->isUpdateAvailable();
                    product->statusText();
                    core->findProduct(product->name);
                }
            }
        });
    }

    for (int round = 0; round < 24; ++round) {
        publish(round % 2 == 0 ? kFirst : kSecond);
        core->setForceRefresh();
        EXPECT_EQ(sync(), "");
    }
    stop = true;
    for (std::thread& reader : readers) {
        reader.join();
    }

    EXPECT_GT(reads.load(), 0);
    EXPECT_EQ(torn.load(), 0);
    EXPECT_EQ(products[0]->cloud.get()->fileName, "step.img");
    EXPECT_NE(products[0]->note.get(), "");
}

// Products come and go and settle on worker threads while syncs settle every product: whichever
// writes the status file last, it ends up listing the products as they stand.
TEST_F(SyncStress, StatusFileKeepsUpWithWorkersWhileSyncsRun) {
    publish(R"({"products":[{"ID":"VESK-FIRMWARE","IV":"5.1.0b7","IF":"vesk.img","LK":"v"}]})");
    for (int i = 0; i < 200; ++i) {
        addProduct(code::VESK_FIRMWARE, "Vesk " + std::to_string(i), "5.0.0b1");
    }
    ASSERT_EQ(sync(), "");
    const auto productList = [&] {
        std::string text = "version;1\n";
        core->forEachProduct([&](const ProductPtr& product) {
            const Product::CloudPtr release = product->cloud.get();
            text += product->name + ";" + versionText(product->version.get()) + ";" +
                    (release ? versionText(release->version) : "null") + "\n";
            return true;
        });
        return text;
    };

    std::vector<std::string> lastNames(2);
    for (int round = 1; round <= 40; ++round) {
        const size_t finished = listener.messages().size() + 1;
        core->startSync();
        std::vector<std::thread> workers;
        for (int w = 0; w < 2; ++w) {
            workers.emplace_back([&, w] {
                for (int job = 0; listener.messages().size() < finished; ++job) {
                    core->removeProduct(lastNames[w]);
                    lastNames[w] = "Pelra " + std::to_string(w) + "." + std::to_string(round) +
                                   "." + std::to_string(job);
                    core->addProduct(code::PELRA_FIRMWARE, lastNames[w], "", Version());
                    core->setStatus(core->findProduct(lastNames[w]), NoCloudInformation);
                }
            });
        }
        listener.waitForFinished(finished);
        for (std::thread& worker : workers) {
            worker.join();
        }
        ASSERT_EQ(kv::test::readFile(environment.downloadsDir() + "/kvportal.ipc"), productList())
            << "round " << round;
    }
}

} // namespace
