// KVPortal's entry point: one running instance per desktop, the manager with its core, the
// command line, the interface defaults, the log file, the window, discovery and the event loop,
// then everything torn down in reverse order.

#include "core/Core.h"
#include "platform/Display.h"
#include "platform/StandardOutput.h"
#include "ru_rod.h"
#include "ui/commands/CmdFirmwareDownloadUpdate.h"
#include "ui/commands/CmdFirmwareUpdate.h"
#include "ui/commands/CmdList.h"
#include "ui/commands/CmdUpdateAll.h"
#include "ui/ipc/ipc.h"
#include "ui/main/CommandLine.h"
#include "ui/main/HelpOption.h"
#include "ui/main/HistoryOption.h"
#include "ui/main/InterfaceDefaults.h"
#include "ui/main/LogFile.h"
#include "ui/main/VersionOption.h"
#include "ui/manager/Manager.h"
#include "ui/theme/QKVTheme.h"
#include "ui/window/Window.h"

#include <QApplication>
#include <QFont>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <vector>

namespace {

using namespace kv::portal;

std::unique_ptr<ICmd> createCommand(Core* core, const CommandLine& line,
                                    const CommandRequest& request, std::FILE* out) {
    if (request.kind == CommandRequest::Kind::List) {
        return std::make_unique<CmdList>(core, line.json, line.waitSeconds, out);
    }
    if (request.kind == CommandRequest::Kind::UpdateAll) {
        return std::make_unique<CmdUpdateAll>(
            core, CmdUpdateAll::Options{line.waitSeconds, line.dryRun, line.includeSoftware}, out);
    }
    if (request.kind == CommandRequest::Kind::FirmwareUpdate) {
        return std::make_unique<CmdFirmwareUpdate>(core, request.productName, request.fileName);
    }
    return std::make_unique<CmdFirmwareDownloadUpdate>(core, request.productName);
}

// Whether the user chose Qt's platform plugin: that choice stands, display or not.
bool platformChosen(int argc, const char* const* argv) {
    const char* chosen = std::getenv("QT_QPA_PLATFORM");
    if (chosen != nullptr && *chosen != '\0') {
        return true;
    }
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-platform") == 0) {
            return true;
        }
    }
    return false;
}

} // namespace

int main(int argc, char** argv) {
    if (hasOption(argc, argv, "--help")) {
        std::fputs(helpText().c_str(), stdout);
        return 0;
    }
    if (hasOption(argc, argv, "--version")) {
        std::fputs(versionReport().c_str(), stdout);
        return 0;
    }
    if (hasOption(argc, argv, "--history")) {
        const std::string report =
            historyReport(readHistoryFile(), parseCommandLine(argc, argv).json);
        std::fputs(report.c_str(), stdout);
        return 0;
    }
    // Over SSH or from a service there is no display: a command can still run, without a window.
    const bool headless = !kv::platform::displayAvailable() && !platformChosen(argc, argv);
    if (headless) {
        if (parseCommandLine(argc, argv).commands.empty()) {
            std::fputs("kvportal: no display (neither DISPLAY nor WAYLAND_DISPLAY is set); give a "
                       "command to run without a window, see kvportal --help\n",
                       stderr);
            return 1;
        }
        kv::platform::useOffscreenDisplay();
    }
    QApplication app(argc, argv);
    // Lets the desktop match the window with the menu's entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("example.kelmora.KVPortal"));
    if (ipc::instance().raiseOtherInstance()) {
        KV_LOG(4, "KVPortal instance is already running...\n");
        if (headless) {
            // Nobody sees the window that ran instead: the caller must know the command did not.
            std::fputs("kvportal: the command was not run: KVPortal already runs in this session\n",
                       stderr);
            return 1;
        }
        return 0;
    }

    Manager manager;
    // Qt has taken its own options out of the arguments.
    const CommandLine commandLine = parseCommandLine(argc, argv);
    if (commandLine.console) {
        ru_rod::openConsole();
    }
    // Outlives the commands that write to it.
    kv::platform::FilePtr answer;
    std::vector<std::unique_ptr<ICmd>> commands;
    for (const CommandRequest& request : commandLine.commands) {
        if (!answer && (request.kind == CommandRequest::Kind::List ||
                        request.kind == CommandRequest::Kind::UpdateAll)) {
            // The listing, or the devices' outcomes, own the standard output.
            ru_rod::consoleToStandardError();
            answer = kv::platform::reserveStandardOutput();
        }
        commands.push_back(
            createCommand(manager.core(), commandLine, request, answer ? answer.get() : stdout));
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
