#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zeroconf {

// TXT record data built from a list of strings (normally key=value): each non-empty string as a
// length byte and its bytes, in list order. A string longer than 127 bytes, or a record longer
// than 32767 bytes, leaves the record empty.
class dns_txt_records {
public:
    static constexpr std::size_t kMaxEntry = 127;
    static constexpr std::size_t kMaxLength = 32767;

    explicit dns_txt_records(const std::vector<std::string>& entries);

    const unsigned char* data() const { return bytes_.empty() ? nullptr : bytes_.data(); }
    std::uint16_t length() const { return static_cast<std::uint16_t>(bytes_.size()); }

private:
    std::vector<unsigned char> bytes_;
};

// Parses received TXT record data into its entries, in order, empty ones included. An entry that
// overruns the data makes the whole record invalid: it is logged, entries is left empty and the
// result is false.
bool parse_txt_record(const unsigned char* data, std::size_t length,
                      std::vector<std::string>& entries);

} // namespace zeroconf
