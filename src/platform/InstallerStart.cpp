#include "platform/InstallerStart.h"

#include "platform/ExecutableSearch.h"
#include "platform/PeImage.h"

namespace kv::platform {

std::optional<InstallerStart> installerStart(const std::string& path) {
    if (isPeFile(path)) {
        if (auto wine = findExecutable("wine")) {
            return InstallerStart{*wine, {path}};
        }
    }
    return std::nullopt;
}

} // namespace kv::platform
