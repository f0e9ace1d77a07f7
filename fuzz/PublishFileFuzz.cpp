// The publish file comes from a release server or a configured location. The sync reads its
// local copy, matches its entries to the products and works out the intermediate firmware
// releases. The input is the publish file's text.

#include "CoreTestEnvironment.h"
#include "FixedSettings.h"
#include "FuzzCheck.h"
#include "TempDir.h"
#include "core/Core.h"
#include "core/json/JsonDocument.h"
#include "core/json/JsonValue.h"
#include "core/sync/ReleaseRecord.h"

#include <chrono>
#include <string>
#include <vector>

namespace {

namespace portal = kv::portal;
using portal::Product;
using portal::ProductPtr;

// A product has a release only when the file has an entry of its code, and its status is the
// one its release gives it.
void checkRelease(const rapidjson::Value& file, const Product& product) {
    const Product::CloudPtr cloud = product.cloud.get();
    const uint32_t status = product.status;
    if (!cloud) {
        FUZZ_CHECK(status == portal::NoCloudInformation && product.note.get().empty());
        return;
    }
    FUZZ_CHECK(product.isUpdateAvailable()
                   ? status == portal::ReadyToDownload || status == portal::ReadyToUpdate
                   : status == portal::UpToDate);
    FUZZ_CHECK(portal::isWebLink(cloud->link) && portal::isWebLink(cloud->agreementLink));
    bool listed = false;
    for (const rapidjson::Value& entry : portal::member(file, "products").GetArray()) {
        listed = listed || portal::textOf(portal::member(entry, "ID")) == product.code;
    }
    FUZZ_CHECK(listed);
}

class SyncEnd : public portal::Core::Listener {
public:
    void syncFinished(portal::Core*, const std::string& message) override {
        messages.push_back(message);
    }

    std::vector<std::string> messages;
};

// One core for the whole run, its products made anew for every input.
struct Catalogue {
    Catalogue() {
        auto settings = std::make_unique<kv::test::FixedSettings>();
        // A source that fails at once: the sync falls back to the local copy, the input.
        settings->set("publish_file", "unreachable://release.server/dozoPublishConf.json");
        core.setProxy(std::move(settings));
        core.addListener(&end);
    }

    void addProducts() {
        core.addProduct(portal::code::KVPORTAL, "KVPortal", "", portal::Version());
        // Firmware generations below, at and above the releases' usual ones; one Dante twin as
        // the probe of a dual-mode device leaves it.
        const portal::ProductCode codes[] = {portal::code::KORVEX_FIRMWARE,
                                             portal::code::RX48_FIRMWARE,
                                             portal::code::VESK_III_FIRMWARE};
        for (uint32_t generation = 0; generation < 3; ++generation) {
            portal::Version version(1, generation, 0, 1);
            version.generation = generation;
            const std::string name = "Device " + std::to_string(generation);
            core.addProduct(codes[generation], name, "", version);
            core.addProduct(codes[generation], name + " B", "", portal::Version(2, 1, 0, 7));
        }
        auto twin = std::make_shared<Product>(portal::code::KORVEX_FIRMWARE_DANTE, "dante_Device 0",
                                              "", portal::Version(1, 0, 0, 1));
        twin->running = false;
        core.findProduct("Device 0")->twin.set(twin);
    }

    kv::test::CoreTestEnvironment environment;
    SyncEnd end;
    portal::Core core;
};

} // namespace

FUZZ_TARGET(input) {
    static Catalogue catalogue;
    portal::Core& core = catalogue.core;
    std::vector<std::string> names;
    core.forEachProduct([&names](const ProductPtr& product) {
        names.push_back(product->name);
        return true;
    });
    for (const std::string& name : names) {
        core.removeProduct(name);
    }
    catalogue.addProducts();
    // The sync parses its local copy up to the first NUL byte.
    const std::string text = input.c_str();
    kv::test::writeFile(core.publishFileUrl(true), text);
    core.setForceRefresh();
    // Every input ends with its sync, nothing of it left running.
    catalogue.end.messages.clear();
    core.startSync();
    FUZZ_CHECK(core.waitUntilIdle(std::chrono::minutes(1)));
    FUZZ_CHECK(catalogue.end.messages ==
               std::vector<std::string>{"Failed to contact Kelmora Technologies Server"});
    FUZZ_CHECK(core.usingLocalFile());
    portal::JsonDocument file;
    portal::parseJson(file, text.c_str());
    // What the local copy holds reads back.
    portal::JsonDocument again;
    portal::parseJson(again, portal::writeJson(file).c_str());
    FUZZ_CHECK(file.HasParseError() ? file.IsNull() : !again.HasParseError());
    core.forEachProduct([&file](const ProductPtr& product) {
        for (ProductPtr current = product; current; current = current->twin.get()) {
            checkRelease(file, *current);
        }
        return true;
    });
}
