#pragma once

#include <QString>

namespace kv::portal {

// Shows a folder in the file manager, or a file selected in its folder.
void showInExplorer(const QString& path);

} // namespace kv::portal
