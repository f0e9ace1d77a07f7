// Start-up of the program reduced to its single-instance steps, for tests that start it several
// times as separate processes. Reports on standard output, one word a line:
//   "counted"  (with --hold) counted in the block; waits for a line on standard input first
//   "exiting"  another instance runs: the raise request is left, the process ends with 0
//   "running"  this is the running instance; it ends normally when standard input closes
//   "raised"   the raise request of a later start arrived

#include "ui/ipc/ipc.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <unistd.h>

#include <cstdio>

namespace {

void say(const char* word) {
    std::printf("%s\n", word);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    kv::portal::ipc& single = kv::portal::ipc::instance();

    if (app.arguments().contains(QStringLiteral("--hold"))) {
        say("counted");
        char ignored[64];
        [[maybe_unused]] const ssize_t got = ::read(STDIN_FILENO, ignored, sizeof ignored);
    }
    if (single.raiseOtherInstance()) {
        say("exiting");
        return 0;
    }

    QObject::connect(&single, &kv::portal::ipc::signalSetWindowForeground, [] { say("raised"); });
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
