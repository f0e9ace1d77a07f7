#pragma once

#include <string>

namespace kv::portal {

// Whether a release's file name stays inside the package folder when joined to it: not
// empty, no path separator, no "..", no NUL, not the folder itself.
bool isSafePackageName(const std::string& fileName);

} // namespace kv::portal
