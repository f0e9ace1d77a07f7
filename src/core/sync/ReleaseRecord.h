#pragma once

#include "core/Product.h"

#include <rapidjson/document.h>

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace kv::portal {

// Builds the release record of a product of `code` from a publish-file entry.
void fillCloud(Product::Cloud& cloud, ProductCode code, const rapidjson::Value& entry);

// Whether a package or agreement link is one the program fetches: an http or https address,
// or one without a scheme, which is taken as http. Other schemes (file, dict, scp...) are not.
bool isWebLink(const std::string& link);

// The "firmware_generations" entries by product code, for finding the next release a device of
// an older firmware generation must pass through.
class IntermediateGenerations {
public:
    explicit IntermediateGenerations(const rapidjson::Value& entries);

    // The first entry in array order for that code whose generation is above `generation`.
    const rapidjson::Value* next(std::string_view code, uint32_t generation) const;

private:
    struct Candidate {
        // The highest generation of this entry and the entries before it: the first entry
        // above a generation is the first whose running highest is above it.
        uint32_t highestSoFar;
        const rapidjson::Value* entry;
    };
    std::unordered_map<std::string_view, std::vector<Candidate>> byCode_;
};

// Applies the intermediate-generation rule to a release record for a device of `code` at
// `generation`: when an intermediate release must come first, the record takes its package and
// the result is the device's note; otherwise the record stays and the result is empty.
std::string applyIntermediateGeneration(Product::Cloud& release, ProductCode code,
                                        uint32_t generation, const rapidjson::Value& publishFile,
                                        std::optional<IntermediateGenerations>& generations);

} // namespace kv::portal
