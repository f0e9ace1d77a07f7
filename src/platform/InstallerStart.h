#pragma once

#include <optional>
#include <string>
#include <vector>

namespace kv::platform {

// The program to start for an installer, and the arguments that come before any of its own.
struct InstallerStart {
    std::string program;
    std::vector<std::string> arguments;
};

// Only a Windows installer runs, and only through wine; nullopt for anything else, or without
// wine.
std::optional<InstallerStart> installerStart(const std::string& path);

} // namespace kv::platform
