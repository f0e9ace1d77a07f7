#include "ui/window/RestartLauncher.h"

#include "core/IProxy.h"
#include "platform/ProgramLocation.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <string>

namespace kv::portal {

namespace {

// The launcher waits for the program of that name to end, then starts it with these flags.
const char kRestartFlags[] = "1";

} // namespace

void startRestartLauncher(IProxy& proxy) {
    const QFileInfo program(QCoreApplication::applicationFilePath());
    const std::string launcher = platform::helperFolder() + "/app_launcher";
    const std::string name = program.fileName().toStdString();
    const std::string path = program.absoluteFilePath().toStdString();
    const char* const arguments[] = {"--name",     name.c_str(), "--path",
                                     path.c_str(), "--flags",    kRestartFlags};
    proxy.runProgram(launcher.c_str(), nullptr, 6, arguments, false);
}

} // namespace kv::portal
