#pragma once

#include <optional>
#include <string>

namespace kv::platform {

// The user's home folder: $HOME, else the account's entry; nullopt when neither names one.
std::optional<std::string> homeFolder();

} // namespace kv::platform
