#include "platform/ProgramFilesFolder.h"

#include "platform/HomeFolder.h"

#include <cstdlib>

namespace kv::platform {

namespace {

const char* nonEmptyVariable(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : nullptr;
}

} // namespace

std::string programFilesFolder() {
    if (const char* folder = nonEmptyVariable("KVPORTAL_PROGRAM_FILES")) {
        return folder;
    }
    std::string prefix;
    if (const char* winePrefix = nonEmptyVariable("WINEPREFIX")) {
        prefix = winePrefix;
    } else {
        prefix = homeFolder().value_or("") + "/.wine";
    }
    return prefix + "/drive_c/Program Files";
}

} // namespace kv::platform
