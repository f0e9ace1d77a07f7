// KVPortal's entry point: one running instance per desktop, the manager with its core, the
// command line, the interface defaults, the log file, the window, discovery and the event loop,
// then everything torn down in reverse order.

#include "core/Core.h"
#include "ru_rod.h"
#include "ui/commands/CmdFirmwareDownloadUpdate.h"
#include "ui/commands/CmdFirmwareUpdate.h"
#include "ui/ipc/ipc.h"
#include "ui/main/CommandLine.h"
#include "ui/main/HelpOption.h"
#include "ui/main/InterfaceDefaults.h"
#include "ui/main/LogFile.h"
#include "ui/main/VersionOption.h"
#include "ui/manager/Manager.h"
#include "ui/theme/QKVTheme.h"
#include "ui/window/Window.h"

#include <QApplication>
#include <QFont>

#include <cstdio>
#include <ctime>
#include <memory>
#include <vector>

namespace {

using namespace kv::portal;

std::unique_ptr<ICmd> createCommand(Core* core, const CommandRequest& request) {
    if (request.kind == CommandRequest::Kind::FirmwareUpdate) {
        return std::make_unique<CmdFirmwareUpdate>(core, request.productName, request.fileName);
    }
    return std::make_unique<CmdFirmwareDownloadUpdate>(core, request.productName);
}

} // namespace

int main(int argc, char** argv) {
    if (asksForHelp(argc, argv)) {
        std::fputs(helpText().c_str(), stdout);
        return 0;
    }
    if (asksForVersion(argc, argv)) {
        std::fputs(versionReport().c_str(), stdout);
        return 0;
    }
    QApplication app(argc, argv);
    // Lets the desktop match the window with the menu's entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("example.kelmora.KVPortal"));
    if (ipc::instance().raiseOtherInstance()) {
        KV_LOG(4, "KVPortal instance is already running...\n");
        return 0;
    }

    Manager manager;
    // Qt has taken its own options out of the arguments.
    const CommandLine commandLine = parseCommandLine(argc, argv);
    if (commandLine.console) {
        ru_rod::openConsole();
    }
    std::vector<std::unique_ptr<ICmd>> commands;
    for (const CommandRequest& request : commandLine.commands) {
        commands.push_back(createCommand(manager.core(), request));
    }

    QKVTheme::instance()->initialize(&app);
    setScaleFromDesktop();
    const QFont font = applicationFont();
    QApplication::setFont(font);
    if (!commandLine.uid.empty()) {
        manager.setUid(commandLine.uid);
    }

    const std::string logPath = logFilePath(manager.core()->downloadsDir());
    renewLogFile(logPath, std::time(nullptr));
    ru_rod::openLogFile(logPath.c_str(), false);
    KV_LOG(6, "----------------------------------------------------------\n");

    Window::showMainWindow(nullptr, manager.core(), &manager);
    manager.start();
    const int result = app.exec();

    // The window listens to the core: it goes before the commands and the manager.
    delete Window::instance();
    commands.clear();
    return result;
}
