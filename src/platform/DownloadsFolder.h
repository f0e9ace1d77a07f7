#pragma once

#include <optional>
#include <string>

namespace kv::platform {

// The user's Downloads folder as the desktop names it (XDG_DOWNLOAD_DIR in user-dirs.dirs),
// else Downloads in the home folder; nullopt when there is no home folder. The folder itself
// may not exist yet.
std::optional<std::string> downloadsFolder();

} // namespace kv::platform
