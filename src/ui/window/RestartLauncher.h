#pragma once

namespace kv::portal {

class IProxy;

// Starts the restart launcher next to this program, which starts the program again once it
// has ended. Does not wait for it.
void startRestartLauncher(IProxy& proxy);

} // namespace kv::portal
