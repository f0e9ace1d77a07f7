#include "ui/main/VersionOption.h"

#include "core/Version.h"
#include "platform/ProgramVersion.h"
#include "provider.h"

namespace kv::portal {

std::string versionReport() {
    const platform::ProgramVersion own = platform::programVersion();
    const std::string provider = zeroconf::provider_path();
    return "KVPortal " + versionText(Version(own.major, own.minor, own.revision, own.build)) +
           "\nDNS-SD provider: " + (provider.empty() ? std::string("none") : provider) + "\n";
}

} // namespace kv::portal
