#pragma once

namespace kv::platform {

// Whether the session names a display a window could open on: X11 or Wayland.
bool displayAvailable();

// Has the interface draw into memory only: it then needs no display.
void useOffscreenDisplay();

} // namespace kv::platform
