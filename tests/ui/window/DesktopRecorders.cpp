#include "DesktopRecorders.h"

#include <QDBusConnection>
#include <QDesktopServices>

#include <stdexcept>

namespace kv::test {

namespace {

const QString kConnection = QStringLiteral("fakeFileManager");
const QString kService = QStringLiteral("org.freedesktop.FileManager1");
const QString kPath = QStringLiteral("/org/freedesktop/FileManager1");

} // namespace

UrlRecorder::UrlRecorder(const QString& scheme) : scheme_(scheme) {
    QDesktopServices::setUrlHandler(scheme_, this, "open");
}

UrlRecorder::~UrlRecorder() {
    QDesktopServices::unsetUrlHandler(scheme_);
}

void UrlRecorder::open(const QUrl& url) {
    urls.push_back(url);
}

// A connection of its own, so that the program's calls travel through the bus daemon.
FakeFileManager::FakeFileManager() {
    QDBusConnection bus = QDBusConnection::connectToBus(
        qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS"), kConnection);
    if (!bus.registerObject(kPath, this, QDBusConnection::ExportAllSlots) ||
        !bus.registerService(kService)) {
        throw std::runtime_error("cannot offer a file manager on the test's bus");
    }
}

FakeFileManager::~FakeFileManager() {
    {
        QDBusConnection bus(kConnection);
        bus.unregisterService(kService);
        bus.unregisterObject(kPath);
    }
    // The connection still watches this object's end; cut that first, so that the bus's thread,
    // tearing the connection down, does not look at this object while it is being destroyed.
    disconnect();
    QDBusConnection::disconnectFromBus(kConnection);
}

void FakeFileManager::ShowItems(const QStringList& uris, const QString&) {
    calls.push_back({QStringLiteral("ShowItems"), uris});
}

void FakeFileManager::ShowFolders(const QStringList& uris, const QString&) {
    calls.push_back({QStringLiteral("ShowFolders"), uris});
}

} // namespace kv::test
