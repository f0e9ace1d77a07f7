#include "platform/ExecutableSearch.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string_view>

namespace kv::platform {

std::optional<std::string> findExecutable(const std::string& name) {
    const char* path = std::getenv("PATH");
    if (path == nullptr || name.empty() || name.find('/') != std::string::npos) {
        return std::nullopt;
    }
    std::string_view folders(path);
    while (true) {
        const size_t colon = folders.find(':');
        const std::string_view folder = folders.substr(0, colon);
        // An empty or relative entry names whatever folder the program was started in.
        if (!folder.empty() && folder.front() == '/') {
            const std::string candidate = std::string(folder) + "/" + name;
            std::error_code error;
            if (std::filesystem::is_regular_file(candidate, error) &&
                ::access(candidate.c_str(), X_OK) == 0) {
                return candidate;
            }
        }
        if (colon == std::string_view::npos) {
            return std::nullopt;
        }
        folders.remove_prefix(colon + 1);
    }
}

} // namespace kv::platform
