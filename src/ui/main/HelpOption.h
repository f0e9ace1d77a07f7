#pragma once

#include <string>

namespace kv::portal {

// Whether the arguments hold "--help", which is answered before anything needs a display.
bool asksForHelp(int argc, const char* const* argv);

// Every option the program reads, one per line with what it does.
std::string helpText();

} // namespace kv::portal
