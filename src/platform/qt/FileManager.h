#pragma once

#include <QString>

namespace kv::platform {

// Opens the desktop's file manager on a folder, or on a file's folder with the file selected,
// without waiting for it. Returns false when no file manager could be asked.
bool showInFileManager(const QString& path, bool selectFile);

} // namespace kv::platform
