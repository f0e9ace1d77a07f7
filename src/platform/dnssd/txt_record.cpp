#include "txt_record.h"

namespace kvdns_sd {
namespace {

constexpr std::size_t kMaxString = 255;
constexpr std::size_t kMaxRecord = 65535;

} // namespace

bool split_txt(const unsigned char* data, std::size_t length, std::vector<std::string>& strings) {
    strings.clear();
    std::size_t position = 0;
    while (position < length) {
        const std::size_t size = data[position++];
        if (size > length - position) {
            return false;
        }
        strings.emplace_back(reinterpret_cast<const char*>(data + position), size);
        position += size;
    }
    return true;
}

std::string join_txt(const std::vector<std::string>& strings) {
    std::string record;
    for (const auto& text : strings) {
        if (text.size() > kMaxString || record.size() + 1 + text.size() > kMaxRecord) {
            continue;
        }
        record += static_cast<char>(text.size());
        record += text;
    }
    return record;
}

} // namespace kvdns_sd
