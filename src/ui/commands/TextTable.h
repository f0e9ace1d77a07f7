#pragma once

#include <string>
#include <vector>

namespace kv::portal {

// Rows as aligned columns two spaces apart, one line each, without trailing blanks.
std::string textTable(const std::vector<std::vector<std::string>>& rows);

} // namespace kv::portal
