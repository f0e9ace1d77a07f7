#include "core/Core.h"
#include "core/json/JsonDocument.h"
#include "core/json/JsonValue.h"
#include "core/products/ProductList.h"
#include "core/statusfile/StatusFileWriter.h"
#include "core/sync/CatalogueSync.h"
#include "core/sync/ReleaseRecord.h"
#include "ru_rod.h"

#include <functional>
#include <optional>
#include <string_view>
#include <unordered_map>

namespace kv::portal {

namespace {

constexpr char kFailedToContact[] = "Failed to contact Kelmora Technologies Server";
constexpr char kInvalidReply[] = "Kelmora Technologies Server invalid reply";

// The products and twins that a publish-file "ID" can reach, in the order of the product list.
using Targets = std::unordered_map<std::string_view, std::vector<Product*>>;

Targets targetsByCode(const std::vector<ProductPtr>& products) {
    Targets targets;
    for (const ProductPtr& product : products) {
        targets[product->code].push_back(product.get());
        if (const ProductPtr twin = product->twin.get()) {
            targets[twin->code].push_back(twin.get());
        }
    }
    return targets;
}

// Whether a new record holds what the product's record held; a verified record differs from
// the catalogue's only in its digest. A burst of devices brings pass after pass, and a line per
// product and pass would grow the log with the square of the devices.
bool sameRelease(const Product::Cloud& held, const Product::Cloud& fresh) {
    const Version& a = held.version;
    const Version& b = fresh.version;
    return a.major == b.major && a.minor == b.minor && a.revision == b.revision &&
           a.build == b.build && a.generation == b.generation && held.fileName == fresh.fileName &&
           held.link == fresh.link && held.releaseNotesLink == fresh.releaseNotesLink &&
           held.agreementLink == fresh.agreementLink &&
           (held.md5 == fresh.md5 || held.md5 == Product::Cloud::kVerifiedMd5);
}

// Gives every product of the entry's code, or the twin of that code, its new release record.
// Records are built whole, the intermediate release included, before a product holds them.
void matchEntry(const Core& core, const rapidjson::Value& publishFile,
                const rapidjson::Value& entry, const Targets& targets,
                std::optional<IntermediateGenerations>& generations) {
    if (!entry.IsObject()) {
        return;
    }
    if (const rapidjson::Value* os = findMember(entry, "OS"); os && textOf(*os) != "Windows") {
        return;
    }
    const rapidjson::Value& id = member(entry, "ID");
    if (!id.IsString()) {
        return;
    }
    const auto found = targets.find(std::string_view(id.GetString(), id.GetStringLength()));
    if (found == targets.end()) {
        return;
    }
    // Products of one code share the record built for their firmware generation: a studio
    // holds many devices of a family.
    struct Built {
        Product::CloudPtr cloud;
        std::string note;
        std::string released;
    };
    std::unordered_map<uint32_t, Built> built;
    for (Product* target : found->second) {
        // A job keeps the record it started with, which may be one a command gave it.
        if (core.hasJob(target->name)) {
            continue;
        }
        const Version installed = target->version.get();
        const auto [record, isNew] = built.try_emplace(installed.generation);
        if (isNew) {
            Product::Cloud cloud;
            fillCloud(cloud, target->code, entry);
            std::string note;
            if (installed.generation < cloud.version.generation) {
                note = applyIntermediateGeneration(cloud, target->code, installed.generation,
                                                   publishFile, generations);
            }
            const std::string released = versionText(cloud.version);
            // A release that would be fetched over another scheme is no release the program
            // offers.
            if (const std::string& link = isWebLink(cloud.link) ? cloud.agreementLink : cloud.link;
                !isWebLink(link)) {
                KV_LOG(
                    4,
                    "Sync: Product(%s %s) refused release %s: link \"%s\" is not http or https\n",
                    target->code, target->name.c_str(), released.c_str(), link.c_str());
            } else {
                record->second = {std::make_shared<const Product::Cloud>(std::move(cloud)),
                                  std::move(note), released};
            }
        }
        const Built& release = record->second;
        if (!release.cloud) {
            target->note.set({});
            target->cloud.set(nullptr);
            continue;
        }
        const Product::CloudPtr before = target->cloud.get();
        const bool changed =
            !before || !sameRelease(*before, *release.cloud) || target->note.get() != release.note;
        target->note.set(release.note);
        // Always a new record, so that the package is verified again, which costs a look at
        // the file while it stays the same.
        target->cloud.set(release.cloud);
        if (changed) {
            KV_LOG(6, "Product(%s %s %s), Cloud(%s)\n", target->code, target->name.c_str(),
                   versionText(installed).c_str(), release.released.c_str());
        }
    }
}

} // namespace

bool CatalogueSync::run() {
    // A failed job stays on show until the user acts: a refresh or a retry settles it.
    bool refreshed = false;
    for (;;) {
        std::string message;
        if (forceRefresh_.exchange(false)) {
            publishDoc_.reset();
            refreshed = true;
        }
        if (publishDoc_) {
            KV_LOG(6, "Sync: Using cache...\n");
            if (usingLocalFile_) {
                message = kFailedToContact;
            }
        } else {
            products_.notify([&](Core::Listener& listener) { listener.syncStarted(&core_); });
            const std::string url = publishFileUrl(false);
            KV_LOG(6, "Sync: Querying[%s] Kelmora Technologies server...\n", url.c_str());
            // No device time limit: a release server far away may take longer to answer than a
            // device on the studio network, and the session's own time-outs bound the wait.
            std::unique_ptr<kvcurl::response> reply = kvcurl::get(url, 0, kPublishFileSizeLimit);
            if (reply->code == 200) {
                KV_LOG(6, "Success\n");
                auto document = std::make_shared<JsonDocument>();
                parseJson(*document, reply->body.c_str());
                if (document->IsObject() && hasMember(*document, "products")) {
                    publishDoc_ = std::move(document);
                    usingLocalFile_ = false;
                    // The text has parsed: the copy keeps it as it came, which costs far less
                    // than writing the document out again.
                    saveFetchedPublishFile(reply->body);
                } else {
                    message = kInvalidReply;
                }
            } else {
                KV_LOG(6, "Failed(%d)\n", reply->code);
                message = kFailedToContact;
                // The server answered, with something no publish file can be.
                if (reply->result == kvcurl::kTooLarge) {
                    KV_LOG(4, "Sync: publish file refused: larger than %zu bytes\n",
                           kPublishFileSizeLimit);
                    message = kInvalidReply;
                }
            }
            if (!publishDoc_) {
                if (!loadLocalPublishFile()) {
                    products_.notify(
                        [&](Core::Listener& listener) { listener.syncFinished(&core_, message); });
                    KV_LOG(6, "Sync failed: No publish file found\n");
                    if (requestsRemain() || !syncEnds()) {
                        continue;
                    }
                    return false;
                }
                usingLocalFile_ = true;
                KV_LOG(6, "Sync: Using local file %s\n", publishFileUrl(true).c_str());
            }
        }

        const std::vector<ProductPtr> products = products_.snapshot();
        // Requests that came in while this pass ran are served by one matching pass, now.
        if (requestsRemain()) {
            continue;
        }

        for (const ProductPtr& product : products) {
            if (!product->isFirmware()) {
                product->refreshInstalledVersion();
            }
        }
        const JsonDocument& publishFile = *publishDoc_;
        const rapidjson::Value& entries = member(publishFile, "products");
        if (entries.IsArray()) {
            const Targets targets = targetsByCode(products);
            std::optional<IntermediateGenerations> generations;
            for (const rapidjson::Value& entry : entries.GetArray()) {
                matchEntry(core_, publishFile, entry, targets, generations);
            }
        }
        {
            StatusFileWriter::Batch batch(statusFile_);
            for (const ProductPtr& product : products) {
                for (ProductPtr current = product; current; current = current->twin.get()) {
                    // A job settles its product itself, whatever status it shows meanwhile.
                    if (core_.hasJob(current->name) ||
                        (isErrorStatus(current->status) && !refreshed)) {
                        continue;
                    }
                    core_.verifyDownload(current);
                    core_.setStatus(current, Evaluate);
                }
            }
        }
        products_.notify([&](Core::Listener& listener) { listener.syncFinished(&core_, message); });
        KV_LOG(6, "Sync finished\n");
        if (syncEnds()) {
            return true;
        }
    }
}

} // namespace kv::portal
