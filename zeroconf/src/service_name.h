#pragma once

#include <string>

namespace zeroconf {

// Position of the first dot of a DNS-SD full name (presentation format) that ends a label: one
// not escaped by an odd number of backslashes. std::string::npos when there is none.
std::size_t first_unescaped_dot(const std::string& full_name);

// Turns an instance label in presentation format into the name itself: "\." and "\\" stand for
// the character, "\DDD" for the byte of that decimal value. A malformed escape gives the empty
// name.
std::string unescape_service_name(const std::string& label);

} // namespace zeroconf
