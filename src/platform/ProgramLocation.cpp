#include "platform/ProgramLocation.h"

#include <unistd.h>

#include <climits>
#include <filesystem>
#include <system_error>

namespace kv::platform {

std::string programPath() {
    char path[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof(path));
    if (length <= 0 || length == static_cast<ssize_t>(sizeof(path))) {
        return std::string();
    }
    return std::string(path, static_cast<size_t>(length));
}

std::string helperFolder() {
    const std::string program = programPath();
    if (program.empty()) {
        return program;
    }
    const std::filesystem::path folder = std::filesystem::path(program).parent_path();
    // KV_HELPER_FOLDER: the installation's helper folder relative to the program's folder.
    const std::filesystem::path installed = (folder / KV_HELPER_FOLDER).lexically_normal();
    std::error_code error;
    return std::filesystem::is_directory(installed, error) ? installed.string() : folder.string();
}

} // namespace kv::platform
