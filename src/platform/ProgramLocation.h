#pragma once

#include <string>

namespace kv::platform {

// The running program's own file; empty when it cannot be told.
std::string programPath();

// The folder of the program's helpers (the restart launcher, the DNS-SD provider): the private
// library folder of an installation when the program has one beside its own folder, else the
// program's own folder, as in the build tree. Ends without a separator; empty when the
// program's own file cannot be told.
std::string helperFolder();

} // namespace kv::platform
