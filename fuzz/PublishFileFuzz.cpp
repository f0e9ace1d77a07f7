// The publish file comes from a release server or a configured location. The JSON helpers read
// it and write its local copy; the sync matches its entries to the products and works out the
// intermediate firmware releases. The input is the publish file's text.

#include "CoreTestEnvironment.h"
#include "FixedSettings.h"
#include "FuzzCheck.h"
#include "TempDir.h"
#include "core/Core.h"
#include "core/json/JsonDocument.h"
#include "core/json/JsonValue.h"
#include "core/sync/ReleaseRecord.h"

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

namespace portal = kv::portal;
using portal::Product;
using portal::ProductPtr;
using rapidjson::Value;

// Numbers are read at the library's default precision, which may miss the nearest double by up
// to three units of the last place; the written copy is read with the same error.
bool nearlySame(double a, double b) {
    if (a == b) {
        return true;
    }
    if (std::signbit(a) != std::signbit(b)) {
        return false;
    }
    int64_t left;
    int64_t right;
    std::memcpy(&left, &a, sizeof(left));
    std::memcpy(&right, &b, sizeof(right));
    return std::abs(left - right) <= 3;
}

// Equal values with members in the same order, repeated names included.
bool sameValue(const Value& a, const Value& b) {
    if (a.GetType() != b.GetType()) {
        return false;
    }
    if (a.IsObject()) {
        auto right = b.MemberBegin();
        for (auto left = a.MemberBegin(); left != a.MemberEnd(); ++left, ++right) {
            if (right == b.MemberEnd() || left->name != right->name ||
                !sameValue(left->value, right->value)) {
                return false;
            }
        }
        return right == b.MemberEnd();
    }
    if (a.IsArray()) {
        bool same = a.Size() == b.Size();
        for (rapidjson::SizeType i = 0; same && i < a.Size(); ++i) {
            same = sameValue(a[i], b[i]);
        }
        return same;
    }
    if (a.IsDouble() || b.IsDouble()) {
        return a.IsDouble() && b.IsDouble() && nearlySame(a.GetDouble(), b.GetDouble());
    }
    return a == b;
}

void checkHelpers(const portal::JsonDocument& document) {
    if (document.HasParseError()) {
        FUZZ_CHECK(document.IsNull());
        return;
    }
    // What the local copy holds is read back as the same document.
    portal::JsonDocument again;
    portal::parseJson(again, portal::writeJson(document).c_str());
    FUZZ_CHECK(!again.HasParseError() && sameValue(again, document));
}

// A product has a release only when the file has an entry of its code, and its status is the
// one its release gives it.
void checkRelease(const Value& file, const Product& product) {
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
    for (const Value& entry : portal::member(file, "products").GetArray()) {
        listed = listed || portal::textOf(portal::member(entry, "ID")) == product.code;
    }
    FUZZ_CHECK(listed);
}

// The messages of the syncs that finished.
class SyncEnd : public portal::Core::Listener {
public:
    void syncFinished(portal::Core*, const std::string& message) override {
        messages.push_back(message);
    }

    std::vector<std::string> messages;
};

struct Installed {
    portal::ProductCode code;
    const char* name;
    const char* version;
    uint32_t generation;
    portal::ProductCode twin;
};

// Every code, two devices of one code, Dante twins, and firmware generations below, at and
// above the releases' usual ones.
const Installed kDevices[] = {
    {portal::code::KORVEX_FIRMWARE, "Korvex A", "1.0.0b1", 1, portal::code::KORVEX_FIRMWARE_DANTE},
    {portal::code::KORVEX_FIRMWARE, "Korvex B", "2.1.0b7", 4, nullptr},
    {portal::code::RX48_FIRMWARE, "RX48", "1.2.3b4", 1, portal::code::RX48_FIRMWARE_DANTE},
    {portal::code::VORAVERI_FIRMWARE, "Voraveri", "3.0.0b0", 2,
     portal::code::VORAVERI_FIRMWARE_DANTE},
    {portal::code::VESK_III_FIRMWARE, "Vesk III", "1.0.0b1", 0,
     portal::code::VESK_III_FIRMWARE_DANTE},
    {portal::code::VESK_FIRMWARE, "Vesk", "1.0.0b1", 1, nullptr},
    {portal::code::PELRA_FIRMWARE, "Pelra", "0.0.0b0", 1, nullptr},
};

void addProducts(portal::Core& core) {
    core.addProduct(portal::code::KVPORTAL, "KVPortal", "", portal::Version());
    core.addProduct(portal::code::VORNET, "VORNET", "", portal::Version());
    core.addProduct(portal::code::KVDISCOVERY, "KVDiscovery", "", portal::Version());
    for (const Installed& device : kDevices) {
        portal::Version version;
        version.parseVersion(device.version);
        version.generation = device.generation;
        core.addProduct(device.code, device.name, "", version);
        if (device.twin != nullptr) {
            // As the Dante probe of a dual-mode device leaves it.
            const ProductPtr product = core.findProduct(device.name);
            auto twin = std::make_shared<Product>(device.twin, std::string("dante_") + device.name,
                                                  "", version);
            twin->running = false;
            product->twin.set(twin);
        }
    }
}

// One core for the whole run, its products made anew for every input.
struct Catalogue {
    Catalogue() {
        auto settings = std::make_unique<kv::test::FixedSettings>();
        // A source that fails at once: the sync falls back to the local copy, the input.
        settings->set("publish_file", "unreachable://release.server/dozoPublishConf.json");
        core.setProxy(std::move(settings));
        core.addListener(&end);
    }

    kv::test::CoreTestEnvironment environment;
    SyncEnd end;
    portal::Core core;
};

void checkSync(const std::string& text) {
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
    addProducts(core);
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
    core.forEachProduct([&file](const ProductPtr& product) {
        for (ProductPtr current = product; current; current = current->twin.get()) {
            checkRelease(file, *current);
        }
        return true;
    });
}

} // namespace

FUZZ_TARGET(input) {
    // The sync parses its local copy up to the first NUL byte.
    const std::string text = input.c_str();
    portal::JsonDocument document;
    portal::parseJson(document, text.c_str());
    checkHelpers(document);
    checkSync(text);
}
