#include "core/device/DeviceWaits.h"

#include <cstdlib>

namespace kv::portal {

std::chrono::seconds deviceWait(std::chrono::seconds normal) {
    const char* text = std::getenv("KVPORTAL_HTTP_TIMEOUT");
    if (text == nullptr || *text == '\0') {
        return normal;
    }
    char* end = nullptr;
    const long seconds = std::strtol(text, &end, 10);
    return *end == '\0' && seconds > 0 ? std::chrono::seconds(seconds) : normal;
}

} // namespace kv::portal
