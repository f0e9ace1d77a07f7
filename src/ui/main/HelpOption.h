#pragma once

#include <string>

namespace kv::portal {

// Every option the program reads, one per line with what it does.
std::string helpText();

} // namespace kv::portal
