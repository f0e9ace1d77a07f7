#include "platform/Display.h"

#include <cstdlib>

namespace kv::platform {

namespace {

bool isSet(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

} // namespace

bool displayAvailable() {
    return isSet("DISPLAY") || isSet("WAYLAND_DISPLAY");
}

void useOffscreenDisplay() {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
}

} // namespace kv::platform
