#include "ui/main/VersionOption.h"

#include "core/Version.h"
#include "platform/ProgramVersion.h"
#include "provider.h"

#include <cstring>

namespace kv::portal {

bool asksForVersion(int argc, const char* const* argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            return true;
        }
    }
    return false;
}

std::string versionReport() {
    const platform::ProgramVersion own = platform::programVersion();
    const std::string provider = zeroconf::provider_path();
    return "KVPortal " + versionText(Version(own.major, own.minor, own.revision, own.build)) +
           "\nDNS-SD provider: " + (provider.empty() ? std::string("none") : provider) + "\n";
}

} // namespace kv::portal
