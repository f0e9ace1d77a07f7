#include "platform/Console.h"

#include <unistd.h>

namespace kv::platform {

void attachConsole() {}

bool stdoutIsTerminal() { return ::isatty(STDOUT_FILENO) == 1; }

} // namespace kv::platform
