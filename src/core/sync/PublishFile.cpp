#include "core/Core.h"
#include "core/json/JsonDocument.h"
#include "core/sync/CatalogueSync.h"
#include "platform/FileOpening.h"
#include "platform/PathSeparator.h"
#include "ru_rod.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kv::portal {

namespace {

// The release servers' host names are reserved for documentation, so that nothing real is
// ever reached by mistake; a studio names its own server through "publish_file".
constexpr char kPublicReleaseUrl[] =
    "https://downloads.kelmora.example/download/RAZezidad/public/dozoPublishConf.json";
constexpr char kBetaReleaseUrl[] =
    "https://beta.downloads.kelmora.example/download/RAZezidad/trunk/packages/"
    "dozoPublishConf.json";

// Compares in chunks, so that a large catalogue is not held twice.
bool holdsExactly(const std::string& path, const std::string& text) {
    std::error_code error;
    if (std::filesystem::file_size(path, error) != text.size() || error) {
        return false;
    }
    const platform::FilePtr in = platform::openForReading(path);
    std::vector<char> chunk(64 * 1024);
    for (std::size_t offset = 0; offset < text.size(); offset += chunk.size()) {
        const std::size_t count = std::min(chunk.size(), text.size() - offset);
        if (!in || std::fread(chunk.data(), 1, count, in.get()) != count ||
            text.compare(offset, count, chunk.data(), count) != 0) {
            return false;
        }
    }
    return true;
}

} // namespace

std::string CatalogueSync::publishFileUrl(bool local) const {
    if (local) {
        return core_.downloadsDir() + platform::kPathSeparator + "dozoPublishConf.json";
    }
    IProxy* proxy = core_.proxy();
    if (proxy == nullptr) {
        ignoreBuild = false;
        return kBetaReleaseUrl;
    }
    std::string configured = proxy->getString("publish_file", "");
    if (!configured.empty()) {
        ignoreBuild = false;
        return configured;
    }
    if (proxy->getInt("publish_lvl", 0) == 1) {
        ignoreBuild = false;
        return kBetaReleaseUrl;
    }
    ignoreBuild = true;
    return kPublicReleaseUrl;
}

bool CatalogueSync::loadLocalPublishFile() {
    // Without a downloads folder there is no local copy, only a path at the file-system root.
    if (core_.downloadsDir().empty()) {
        return false;
    }
    const std::string path = publishFileUrl(true);
    const platform::FilePtr in = platform::openForReading(path);
    if (!in) {
        return false;
    }
    std::string text;
    std::vector<char> chunk(64 * 1024);
    for (std::size_t got; (got = std::fread(chunk.data(), 1, chunk.size(), in.get())) > 0;) {
        text.append(chunk.data(), got);
        if (text.size() > kPublishFileSizeLimit) {
            KV_LOG(4, "Sync: local file %s refused: larger than %zu bytes\n", path.c_str(),
                   kPublishFileSizeLimit);
            return false;
        }
    }
    auto document = std::make_shared<JsonDocument>();
    parseJson(*document, text.c_str());
    publishDoc_ = std::move(document);
    return true;
}

void CatalogueSync::saveFetchedPublishFile(const std::string& text) {
    const std::size_t textHash = std::hash<std::string>()(text);
    const std::size_t textSize = text.size();
    const std::optional<platform::FileIdentity> copy = platform::fileIdentity(publishFileUrl(true));
    const std::optional<SavedCopy>& saved = savedCopy_;
    if (saved && copy && saved->copy == *copy && saved->textHash == textHash &&
        saved->textSize == textSize) {
        return;
    }
    savedCopy_.reset();
    if (!savePublishFile(text)) {
        return;
    }
    if (const std::optional<platform::FileIdentity> written =
            platform::fileIdentity(publishFileUrl(true))) {
        savedCopy_ = SavedCopy{textHash, textSize, *written};
    }
}

// The new copy is written beside the old one and then renamed over it, so that a crash or a
// full disk never leaves the program without its offline copy.
bool CatalogueSync::savePublishFile(const std::string& text) {
    if (core_.downloadsDir().empty()) {
        return false;
    }
    const std::string path = publishFileUrl(true);
    // Most syncs bring the catalogue the copy already holds, and writing it costs more than
    // the rest of the sync.
    if (holdsExactly(path, text)) {
        return true;
    }
    if (platform::replaceWhole(path, text)) {
        return true;
    }
    KV_LOG(4, "Failed to save the local publish file %s\n", path.c_str());
    return false;
}

} // namespace kv::portal
