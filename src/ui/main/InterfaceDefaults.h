#pragma once

#include <QFont>

namespace kv::portal {

// The interface's scale factor for a desktop of this logical horizontal resolution.
float scaleForDpi(int logicalDpi);

// Sets the process-wide scale factor from the desktop the application runs on.
void setScaleFromDesktop();

// The program's default font.
QFont applicationFont();

} // namespace kv::portal
