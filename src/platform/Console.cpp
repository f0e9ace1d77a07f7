#include "platform/Console.h"

#include <unistd.h>

#include <atomic>

namespace kv::platform {

namespace {

std::atomic<bool> attached{false};

} // namespace

void attachConsole() {
    attached = true;
}

bool consoleAttached() {
    return attached;
}

bool stdoutIsTerminal() {
    return ::isatty(STDOUT_FILENO) == 1;
}

} // namespace kv::platform
