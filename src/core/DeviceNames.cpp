#include "core/DeviceNames.h"

#include "core/ProductCode.h"

#include <cstdio>

namespace kv::portal {

namespace {

// A network can announce names without end; past this many the memory starts over.
constexpr std::size_t kRememberedNames = 256;

bool isControl(unsigned char byte) {
    return byte < 0x20 || byte == 0x7F;
}

// U+0080 to U+009F in UTF-8: terminals take some of them as escape sequences.
bool isC1Control(const std::string& name, std::size_t at) {
    return static_cast<unsigned char>(name[at]) == 0xC2 && at + 1 < name.size() &&
           static_cast<unsigned char>(name[at + 1]) >= 0x80 &&
           static_cast<unsigned char>(name[at + 1]) <= 0x9F;
}

} // namespace

const char* deviceNameProblem(const std::string& name) {
    for (std::size_t at = 0; at < name.size(); ++at) {
        if (isControl(static_cast<unsigned char>(name[at])) || isC1Control(name, at)) {
            return "its name holds control characters";
        }
    }
    if (isApplicationName(name)) {
        return "its name is an application's";
    }
    return nullptr;
}

std::string printableName(const std::string& name) {
    std::string printable;
    for (std::size_t at = 0; at < name.size(); ++at) {
        const auto byte = static_cast<unsigned char>(name[at]);
        if (byte == '\\') {
            printable += "\\\\";
        } else if (isControl(byte) || isC1Control(name, at) ||
                   (at > 0 && isC1Control(name, at - 1))) {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\%03u", byte);
            printable += escaped;
        } else {
            printable += name[at];
        }
    }
    return printable;
}

bool RefusedNames::firstRefusal(const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (names_.size() >= kRememberedNames) {
        names_.clear();
    }
    return names_.insert(name).second;
}

} // namespace kv::portal
