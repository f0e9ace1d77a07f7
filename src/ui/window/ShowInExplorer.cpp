#include "ui/window/ShowInExplorer.h"

#include "platform/qt/FileManager.h"
#include "ru_rod.h"

#include <QFileInfo>

namespace kv::portal {

void showInExplorer(const QString& path) {
    if (!platform::showInFileManager(path, !QFileInfo(path).isDir())) {
        KV_LOG(4, "Cannot show %s in the file manager\n", qUtf8Printable(path));
    }
}

} // namespace kv::portal
