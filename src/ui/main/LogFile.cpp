#include "ui/main/LogFile.h"

#include "platform/FileTime.h"
#include "platform/PathSeparator.h"

#include <filesystem>
#include <system_error>

namespace kv::portal {

std::string logFilePath(const std::string& downloadsDir) {
    return downloadsDir + platform::kPathSeparator + "log.txt";
}

void renewLogFile(const std::string& path, int64_t now) {
    std::error_code error;
    if (!std::filesystem::exists(std::filesystem::symlink_status(path, error))) {
        return;
    }
    const int64_t lastWrite = platform::fileModificationTime(path);
    if (lastWrite != 0 && now - lastWrite > kLogFileLifetimeSeconds) {
        std::filesystem::remove_all(path, error);
    }
}

} // namespace kv::portal
