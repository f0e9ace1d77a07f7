#pragma once

#include "platform/FileOpening.h"

namespace kv::platform {

// Keeps the standard output for a command's own answer: returns a stream on it and sends
// whatever else the process writes there to the standard error from then on. Null when the
// output cannot be kept apart; the caller then writes to the standard output as it is.
FilePtr reserveStandardOutput();

} // namespace kv::platform
