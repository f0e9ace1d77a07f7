#include "core/sync/ReleaseRecord.h"

#include "core/json/JsonValue.h"

#include <algorithm>

namespace kv::portal {

void fillCloud(Product::Cloud& cloud, ProductCode code, const rapidjson::Value& entry) {
    cloud = Product::Cloud();
    const rapidjson::Value& version = member(entry, "IV");
    if (version.IsString()) {
        cloud.version.parseVersion(version.GetString());
    }
    cloud.fileName = textOf(member(entry, "IF"));
    cloud.link = textOf(member(entry, "LK"));
    if (const rapidjson::Value* generation = findMember(entry, "GN")) {
        cloud.version.generation = unsignedOf(*generation);
    }
    if (const rapidjson::Value* md5 = findMember(entry, "MD5")) {
        cloud.md5 = textOf(*md5);
    }
    if (const rapidjson::Value* notes = findMember(entry, "RN")) {
        cloud.releaseNotesLink = textOf(*notes);
    }
    if (const rapidjson::Value* agreement = findMember(entry, "LA")) {
        cloud.agreementLink = textOf(*agreement);
    }
    if (!isFirmwareCode(code)) {
        cloud.version.build = reducedApplicationBuild(cloud.version.build);
    }
}

bool isWebLink(const std::string& link) {
    // A scheme as libcurl finds one: letters, digits, "+", "-" or "." before ":/".
    const size_t end = link.find_first_not_of("abcdefghijklmnopqrstuvwxyz"
                                              "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789+-.");
    if (end == 0 || end == std::string::npos || link.compare(end, 2, ":/") != 0) {
        return true;
    }
    std::string scheme = link.substr(0, end);
    std::transform(scheme.begin(), scheme.end(), scheme.begin(), [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    });
    return (scheme == "http" || scheme == "https") && link.compare(end, 3, "://") == 0;
}

IntermediateGenerations::IntermediateGenerations(const rapidjson::Value& entries) {
    for (const rapidjson::Value& entry : entries.GetArray()) {
        if (!entry.IsObject()) {
            continue;
        }
        const rapidjson::Value& id = member(entry, "ID");
        if (!id.IsString()) {
            continue;
        }
        std::vector<Candidate>& candidates =
            byCode_[std::string_view(id.GetString(), id.GetStringLength())];
        const uint32_t generation = unsignedOf(member(entry, "GN"));
        const uint32_t highest =
            candidates.empty() ? generation : std::max(generation, candidates.back().highestSoFar);
        candidates.push_back({highest, &entry});
    }
}

const rapidjson::Value* IntermediateGenerations::next(std::string_view code,
                                                      uint32_t generation) const {
    const auto found = byCode_.find(code);
    if (found == byCode_.end()) {
        return nullptr;
    }
    const std::vector<Candidate>& candidates = found->second;
    const auto first = std::upper_bound(candidates.begin(), candidates.end(), generation,
                                        [](uint32_t wanted, const Candidate& candidate) {
                                            return wanted < candidate.highestSoFar;
                                        });
    return first == candidates.end() ? nullptr : first->entry;
}

std::string applyIntermediateGeneration(Product::Cloud& release, ProductCode code,
                                        uint32_t generation, const rapidjson::Value& publishFile,
                                        std::optional<IntermediateGenerations>& generations) {
    const rapidjson::Value& entries = member(publishFile, "firmware_generations");
    if (!entries.IsArray() || entries.Empty()) {
        return {};
    }
    if (!generations) {
        generations.emplace(entries);
    }
    const rapidjson::Value* entry = generations->next(code, generation);
    if (entry == nullptr) {
        return {};
    }
    Product::Cloud intermediate;
    fillCloud(intermediate, code, *entry);
    if (!(intermediate.version != release.version)) {
        return {};
    }
    release.fileName = intermediate.fileName;
    release.link = intermediate.link;
    release.md5 = intermediate.md5;
    return "Note: The released firmware version " + versionText(release.version) +
           " will be downloaded and installed after the required intermediate versions. Next "
           "required version is: " +
           versionText(intermediate.version) + ".";
}

} // namespace kv::portal
