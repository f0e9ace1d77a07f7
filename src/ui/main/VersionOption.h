#pragma once

#include <string>

namespace kv::portal {

// Whether the arguments hold "--version", which is answered before anything needs a display.
bool asksForVersion(int argc, const char* const* argv);

// The program's name and version, and the DNS-SD provider it has loaded, one per line.
std::string versionReport();

} // namespace kv::portal
