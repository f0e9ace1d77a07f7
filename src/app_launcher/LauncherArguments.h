#pragma once

#include <optional>
#include <string>

namespace kv::launcher {

// Start the program again once it has ended; without it the launcher only waits.
constexpr unsigned kRestartFlag = 1;

// "--name NAME --path \"PATH\" --flags N", as the program passes them when it restarts itself.
struct LauncherArguments {
    std::string name;
    std::string path;
    unsigned flags = 0;
};

// Null when the path is missing or a value is missing or malformed.
std::optional<LauncherArguments> parseLauncherArguments(int argc, const char* const* argv);

} // namespace kv::launcher
