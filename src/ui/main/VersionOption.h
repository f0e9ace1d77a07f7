#pragma once

#include <string>

namespace kv::portal {

// The program's name and version, and the DNS-SD provider it has loaded, one per line.
std::string versionReport();

} // namespace kv::portal
