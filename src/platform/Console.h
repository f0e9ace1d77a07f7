#pragma once

namespace kv::platform {

// Gives the process a console to write to; a Linux process already has its terminal, if any.
void attachConsole();

// Whether the console was asked for: what goes only to a console (the text of replies) is
// written to the standard output only then.
bool consoleAttached();

// Whether the standard output shows escape sequences as colours (it is a terminal).
bool stdoutIsTerminal();

} // namespace kv::platform
