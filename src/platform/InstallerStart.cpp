#include "platform/InstallerStart.h"

#include "platform/ExecutableSearch.h"
#include "platform/PeImage.h"

namespace kv::platform {

InstallerStart installerStart(const std::string& path) {
    if (isPeFile(path)) {
        if (auto wine = findExecutable("wine")) {
            return InstallerStart{*wine, {path}};
        }
    }
    return InstallerStart{path, {}};
}

} // namespace kv::platform
