#pragma once

#include "TempDir.h"

#include <cstdlib>
#include <filesystem>
#include <string>

namespace kv::test {

// The folders and settings a manager reads, private to the test program: a home folder for the
// downloads, the settings stores, the Program Files folder and the interface's runtime folder.
// Built before the application object, since Qt reads some of them only once.
class ManagerEnvironment {
public:
    ManagerEnvironment() {
        for (const char* folder : {"home", "config", "site", "programs", "runtime"}) {
            std::filesystem::create_directories(root_.file(folder));
        }
        std::filesystem::permissions(root_.file("runtime"), std::filesystem::perms::owner_all);
        const std::pair<const char*, std::string> variables[] = {
            {"HOME", root_.file("home")},
            {"XDG_CONFIG_HOME", root_.file("config")},
            {"XDG_CONFIG_DIRS", root_.file("site")},
            {"KVPORTAL_PROGRAM_FILES", root_.file("programs")},
            {"XDG_RUNTIME_DIR", root_.file("runtime")},
            {"KVPORTAL_COLOR_SCHEME", "light"},
            // No desktop bus and no DNS-SD daemon of the machine's.
            {"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + root_.file("no-bus")},
            {"DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + root_.file("no-bus")},
            // Device queries of a silent device give up soon.
            {"KVPORTAL_HTTP_TIMEOUT", "3"},
        };
        for (const auto& [name, value] : variables) {
            ::setenv(name, value.c_str(), 1);
        }
        setSettings("");
    }

    // Writes the user's settings, replacing earlier ones: "key=value" lines, and a catalogue
    // server that refuses every connection.
    void setSettings(const std::string& lines) {
        const std::string folder = root_.file("config") + "/Kelmora Technologies";
        std::filesystem::create_directories(folder);
        writeFile(folder + "/KVPortal.conf",
                  "[General]\npublish_file=http://127.0.0.1:9/dozoPublishConf.json\n" + lines);
    }

private:
    TempDir root_;
};

} // namespace kv::test
