#pragma once

#include <optional>
#include <string>

namespace kv::platform {

// The full path of the program a shell would start for the bare name, searched along the
// absolute folders of PATH.
std::optional<std::string> findExecutable(const std::string& name);

} // namespace kv::platform
