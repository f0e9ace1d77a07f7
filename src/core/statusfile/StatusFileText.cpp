#include "core/statusfile/StatusFileText.h"

#include <cstdio>
#include <string_view>

namespace kv::portal {

namespace {

// How many bytes at `at` are written escaped: a control character, ";", "%", or one of the
// Unicode line breaks that some readers split lines on.
size_t escapedLength(std::string_view text, size_t at) {
    const auto c = static_cast<unsigned char>(text[at]);
    if (c < 0x20 || c == 0x7f || c == ';' || c == '%') {
        return 1;
    }
    for (std::string_view lineBreak : {"\xc2\x85", "\xe2\x80\xa8", "\xe2\x80\xa9"}) {
        if (text.substr(at, lineBreak.size()) == lineBreak) {
            return lineBreak.size();
        }
    }
    return 0;
}

std::string nameField(const std::string& name) {
    std::string field;
    field.reserve(name.size());
    for (size_t at = 0; at < name.size();) {
        const size_t length = escapedLength(name, at);
        if (length == 0) {
            field += name[at++];
            continue;
        }
        for (const size_t end = at + length; at < end; ++at) {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", static_cast<unsigned char>(name[at]));
            field += hex;
        }
    }
    return field;
}

} // namespace

std::string statusFileText(const std::vector<ProductPtr>& products) {
    std::string text = "version;1\n";
    for (const ProductPtr& product : products) {
        const Product::CloudPtr release = product->cloud.get();
        text += nameField(product->name) + ";" + versionText(product->version.get()) + ";" +
                (release ? versionText(release->version) : std::string("null")) + "\n";
    }
    return text;
}

} // namespace kv::portal
