#include "dns_txt_records.h"

#include "log.h"

namespace zeroconf {

dns_txt_records::dns_txt_records(const std::vector<std::string>& entries) {
    std::size_t length = 0;
    for (const auto& entry : entries) {
        if (entry.size() > kMaxEntry) {
            return;
        }
        length += entry.empty() ? 0 : 1 + entry.size();
    }
    if (length > kMaxLength) {
        return;
    }
    bytes_.reserve(length);
    for (const auto& entry : entries) {
        if (entry.empty()) {
            continue;
        }
        bytes_.push_back(static_cast<unsigned char>(entry.size()));
        bytes_.insert(bytes_.end(), entry.begin(), entry.end());
    }
}

bool parse_txt_record(const unsigned char* data, std::size_t length,
                      std::vector<std::string>& entries) {
    entries.clear();
    if (data == nullptr) {
        return true;
    }
    std::size_t position = 0;
    while (position < length) {
        const std::size_t entry_length = data[position++];
        if (entry_length > length - position) {
            ZEROCONF_LOG(3, "Invalid TXT Record\n");
            entries.clear();
            return false;
        }
        entries.emplace_back(reinterpret_cast<const char*>(data + position), entry_length);
        position += entry_length;
    }
    return true;
}

} // namespace zeroconf
