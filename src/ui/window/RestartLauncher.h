#pragma once

namespace kv::portal {

class IProxy;

// Starts the restart launcher among this program's helpers, which starts the program again once it
// has ended. Does not wait for it.
void startRestartLauncher(IProxy& proxy);

} // namespace kv::portal
