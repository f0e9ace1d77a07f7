#include "platform/qt/FileManager.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QFileInfo>
#include <QProcess>
#include <QStringList>
#include <QUrl>

namespace kv::platform {

namespace {

const QString kService = QStringLiteral("org.freedesktop.FileManager1");

bool fileManagerOnBus(const QDBusConnection& bus) {
    if (!bus.isConnected() || bus.interface() == nullptr) {
        return false;
    }
    if (bus.interface()->isServiceRegistered(kService)) {
        return true;
    }
    // A file manager the bus starts on demand is not running yet.
    const QDBusReply<QStringList> activatable =
        bus.interface()->call(QStringLiteral("ListActivatableNames"));
    return activatable.isValid() && activatable.value().contains(kService);
}

} // namespace

bool showInFileManager(const QString& path, bool selectFile) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (fileManagerOnBus(bus)) {
        QDBusMessage call = QDBusMessage::createMethodCall(
            kService, QStringLiteral("/org/freedesktop/FileManager1"), kService,
            selectFile ? QStringLiteral("ShowItems") : QStringLiteral("ShowFolders"));
        call << QStringList{QUrl::fromLocalFile(path).toString()} << QString();
        // Not waited for: the file manager may take its time to start.
        return bus.send(call);
    }
    const QString folder = selectFile ? QFileInfo(path).absolutePath() : path;
    return QProcess::startDetached(QStringLiteral("xdg-open"), {folder});
}

} // namespace kv::platform
