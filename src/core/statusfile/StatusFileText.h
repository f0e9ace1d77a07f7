#pragma once

#include "core/Product.h"

#include <string>
#include <vector>

namespace kv::portal {

// What "kvportal.ipc" holds: a version line, then one line per product with its name, installed
// version and released version ("null" without a release), separated by ";". A name's "%", ";"
// and line-breaking characters are written as "%" and the two hexadecimal digits of each of
// their bytes, so that every line keeps its three fields.
std::string statusFileText(const std::vector<ProductPtr>& products);

} // namespace kv::portal
