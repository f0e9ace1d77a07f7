#pragma once

#include <optional>
#include <string>

namespace kv::platform {

// A folder of the user's own session that no other user can write to: $XDG_RUNTIME_DIR when it
// is such a folder, else "kvportal-<user id>" in the temporary folder, made with mode 0700.
// nullopt when neither is the user's alone.
std::optional<std::string> userRuntimeFolder();

} // namespace kv::platform
