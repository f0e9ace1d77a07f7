#pragma once

#include <string>

namespace zeroconf {

// The file of the DNS-SD provider the library has loaded, or empty when none could be loaded.
std::string provider_path();

} // namespace zeroconf
