// Start-up of the program reduced to its single-instance steps, for tests that start it several
// times as separate processes. Reports on standard output, one line each:
//   "exiting"  another instance runs: the raise request is left, the process ends with 0
//   "running"  this is the running instance; it ends normally when standard input closes
//   "raised"   a later start's raise request arrived and was taken out of the block
//              ("raised, request left" when it was not)

#include "ui/ipc/ipc.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <unistd.h>

#include <cstdio>

namespace {

void say(const char* line) {
    std::printf("%s\n", line);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    kv::portal::ipc& single = kv::portal::ipc::instance();
    if (single.raiseOtherInstance()) {
        say("exiting");
        return 0;
    }
    QObject::connect(&single, &kv::portal::ipc::signalSetWindowForeground, [&single] {
        // Looked at once the poll that raised is over.
        QTimer::singleShot(0, [&single] {
            single.lock();
            say(single.data()->raiseRequest == 0 ? "raised" : "raised, request left");
            single.unlock();
        });
    });
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&app, &input] {
        char buffer[64];
        if (::read(STDIN_FILENO, buffer, sizeof buffer) <= 0) {
            input.setEnabled(false);
            app.quit();
        }
    });
    say("running");
    return app.exec();
}
