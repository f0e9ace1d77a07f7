#pragma once

#include <string>
#include <vector>

namespace kv::platform {

// The program to start for an installer, and the arguments that come before any of its own.
struct InstallerStart {
    std::string program;
    std::vector<std::string> arguments;
};

// A Windows installer runs through wine when wine is installed; anything else starts itself.
InstallerStart installerStart(const std::string& path);

} // namespace kv::platform
