#include "LauncherArguments.h"

#include <cstring>

namespace kv::launcher {

namespace {

// A command line handed over as one text may leave the quotes around the path in place.
std::string unquoted(const char* text) {
    const size_t length = std::strlen(text);
    if (length >= 2 && text[0] == '"' && text[length - 1] == '"') {
        return std::string(text + 1, length - 2);
    }
    return text;
}

std::optional<unsigned> decimal(const char* text) {
    if (*text == '\0') {
        return std::nullopt;
    }
    unsigned value = 0;
    for (const char* p = text; *p; ++p) {
        if (*p < '0' || *p > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<unsigned>(*p - '0');
    }
    return value;
}

} // namespace

std::optional<LauncherArguments> parseLauncherArguments(int argc, const char* const* argv) {
    LauncherArguments arguments;
    for (int i = 1; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (std::strcmp(argv[i], "--name") == 0 && hasValue) {
            arguments.name = argv[++i];
        } else if (std::strcmp(argv[i], "--path") == 0 && hasValue) {
            arguments.path = unquoted(argv[++i]);
        } else if (std::strcmp(argv[i], "--flags") == 0 && hasValue) {
            const auto flags = decimal(argv[++i]);
            if (!flags) {
                return std::nullopt;
            }
            arguments.flags = *flags;
        } else {
            return std::nullopt;
        }
    }
    if (arguments.path.empty()) {
        return std::nullopt;
    }
    return arguments;
}

} // namespace kv::launcher
