#include "dns_names.h"

#include <cstdio>
#include <sstream>

namespace kvdns_sd {
namespace {

std::vector<std::string> split_commas(const std::string& text) {
    std::vector<std::string> parts;
    std::istringstream in(text);
    std::string part;
    while (std::getline(in, part, ',')) {
        parts.push_back(part);
    }
    return parts;
}

std::string subtype_of(const std::string& subtype, const std::string& base) {
    return subtype + "._sub." + base;
}

} // namespace

std::string full_name(const std::string& instance, const std::string& type,
                      const std::string& domain) {
    std::string escaped;
    for (const unsigned char c : instance) {
        if (c == '.' || c == '\\') {
            escaped += '\\';
            escaped += static_cast<char>(c);
        } else if (c <= ' ' || c == 0x7f) {
            char decimal[5];
            std::snprintf(decimal, sizeof(decimal), "\\%03u", static_cast<unsigned>(c));
            escaped += decimal;
        } else {
            escaped += static_cast<char>(c);
        }
    }
    return escaped + "." + with_trailing_dot(without_trailing_dot(type) + "." + domain);
}

std::string with_trailing_dot(const std::string& name) {
    return !name.empty() && name.back() == '.' ? name : name + ".";
}

std::string without_trailing_dot(const std::string& name) {
    return !name.empty() && name.back() == '.' ? name.substr(0, name.size() - 1) : name;
}

bool browse_type(const std::string& regtype, std::string& type) {
    const std::vector<std::string> parts = split_commas(regtype);
    if (parts.empty() || parts.size() > 2) {
        return false;
    }
    const std::string base = without_trailing_dot(parts[0]);
    type = parts.size() == 2 ? subtype_of(parts[1], base) : base;
    return true;
}

void registration_types(const std::string& regtype, std::string& base,
                        std::vector<std::string>& subtypes) {
    const std::vector<std::string> parts = split_commas(regtype);
    base = parts.empty() ? std::string() : without_trailing_dot(parts[0]);
    subtypes.clear();
    for (std::size_t i = 1; i < parts.size(); ++i) {
        subtypes.push_back(subtype_of(parts[i], base));
    }
}

} // namespace kvdns_sd
