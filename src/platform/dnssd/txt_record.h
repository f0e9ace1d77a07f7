#pragma once

// TXT record data in DNS-SD's wire form, each string after a byte giving its length, and as the
// list of byte strings avahi-daemon takes and gives.

#include <cstddef>
#include <string>
#include <vector>

namespace kvdns_sd {

// False when a length byte runs past the end of the data.
bool split_txt(const unsigned char* data, std::size_t length, std::vector<std::string>& strings);

// Strings longer than 255 bytes cannot be written and are left out, as are those that would take
// the record past 65535 bytes.
std::string join_txt(const std::vector<std::string>& strings);

} // namespace kvdns_sd
