#pragma once

class QWidget;

namespace kv::platform {

// Asks the window manager for a dark or light title bar on a top-level window, where the
// window system has a way to say so (X11: the _GTK_THEME_VARIANT property); elsewhere nothing.
void setDarkTitleBar(QWidget* window, bool dark);

} // namespace kv::platform
