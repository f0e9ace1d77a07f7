#include "platform/DownloadsFolder.h"

#include "platform/HomeFolder.h"

#include <cstdlib>
#include <fstream>
#include <string_view>

namespace kv::platform {

namespace {

constexpr std::string_view kKey = "XDG_DOWNLOAD_DIR";

void skipBlanks(std::string_view& text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
}

bool consume(std::string_view& text, std::string_view prefix) {
    if (text.substr(0, prefix.size()) != prefix) {
        return false;
    }
    text.remove_prefix(prefix.size());
    return true;
}

// One line of user-dirs.dirs, read the way xdg-user-dir reads it: a quoted value that is
// absolute or starts with $HOME, backslash escaping the next character.
std::optional<std::string> downloadEntry(std::string_view line,
                                         const std::optional<std::string>& home) {
    skipBlanks(line);
    if (!consume(line, kKey)) {
        return std::nullopt;
    }
    skipBlanks(line);
    if (!consume(line, "=")) {
        return std::nullopt;
    }
    skipBlanks(line);
    if (!consume(line, "\"")) {
        return std::nullopt;
    }
    std::string folder;
    if (consume(line, "$HOME")) {
        if (!home || (!line.empty() && line.front() != '/' && line.front() != '"')) {
            return std::nullopt;
        }
        folder = *home;
    } else if (line.empty() || line.front() != '/') {
        return std::nullopt;
    }
    while (!line.empty() && line.front() != '"') {
        if (line.front() == '\\' && line.size() > 1) {
            line.remove_prefix(1);
        }
        folder += line.front();
        line.remove_prefix(1);
    }
    while (folder.size() > 1 && folder.back() == '/') {
        folder.pop_back();
    }
    return folder;
}

std::string configFolder(const std::optional<std::string>& home) {
    const char* configHome = std::getenv("XDG_CONFIG_HOME");
    if (configHome != nullptr && configHome[0] == '/') {
        return configHome;
    }
    return home ? *home + "/.config" : std::string();
}

} // namespace

std::optional<std::string> downloadsFolder() {
    const std::optional<std::string> home = homeFolder();
    std::optional<std::string> folder;
    const std::string config = configFolder(home);
    if (!config.empty()) {
        std::ifstream dirs(config + "/user-dirs.dirs");
        for (std::string line; std::getline(dirs, line);) {
            if (auto entry = downloadEntry(line, home)) {
                folder = std::move(entry);
            }
        }
    }
    if (!folder && home) {
        folder = *home + "/Downloads";
    }
    return folder;
}

} // namespace kv::platform
