#include "ManagerEnvironment.h"

#include <QByteArray>

#include <filesystem>
#include <thread>

namespace kv::test {

namespace {

void setVariable(const char* name, const std::string& value) {
    qputenv(name, QByteArray::fromStdString(value));
}

} // namespace

ManagerEnvironment::ManagerEnvironment() {
    for (const char* folder : {"home", "config", "site", "programs", "runtime"}) {
        std::filesystem::create_directories(root_.file(folder));
    }
    std::filesystem::permissions(root_.file("runtime"), std::filesystem::perms::owner_all);
    setVariable("HOME", root_.file("home"));
    setVariable("XDG_CONFIG_HOME", root_.file("config"));
    setVariable("XDG_CONFIG_DIRS", root_.file("site"));
    setVariable("KVPORTAL_PROGRAM_FILES", root_.file("programs"));
    setVariable("XDG_RUNTIME_DIR", root_.file("runtime"));
    setVariable("KVPORTAL_COLOR_SCHEME", "light");
    // No desktop bus and no DNS-SD daemon of the machine's; the lab test brings its own bus.
    setVariable("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + root_.file("no-bus"));
    setVariable("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + root_.file("no-bus"));
    // Device queries of a silent device give up soon.
    setVariable("KVPORTAL_HTTP_TIMEOUT", "3");
    setSettings("");
}

void ManagerEnvironment::setSettings(const std::string& lines) {
    const std::string folder = root_.file("config") + "/Kelmora Technologies";
    std::filesystem::create_directories(folder);
    writeFile(folder + "/KVPortal.conf",
              "[General]\npublish_file=" + std::string(kUnreachableCatalogue) + "\n" + lines);
}

std::string ManagerEnvironment::downloadsDir() const {
    return root_.file("home") + "/Downloads/KV";
}

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

} // namespace kv::test
