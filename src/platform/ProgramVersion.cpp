#include "platform/ProgramVersion.h"

namespace kv::platform {

// The numbers come from the build: the project's version and KV_BUILD_NUMBER.
ProgramVersion programVersion() {
    return {KV_VERSION_MAJOR, KV_VERSION_MINOR, KV_VERSION_PATCH, KV_BUILD_NUMBER};
}

} // namespace kv::platform
