#include "platform/qt/PortalColorScheme.h"

#include <QDBusConnection>
#include <QDBusMessage>

namespace kv::platform {
namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kInterface = QStringLiteral("org.freedesktop.portal.Settings");
const QString kGroup = QStringLiteral("org.freedesktop.appearance");
const QString kKey = QStringLiteral("color-scheme");
// A portal that is started on demand answers well within this; none must not hold up start-up.
constexpr int kReadTimeoutMs = 2000;

} // namespace

PortalColorScheme::PortalColorScheme() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return;
    }
    bus.connect(kService, kPath, kInterface, QStringLiteral("SettingChanged"), this,
                SLOT(settingChanged(QString, QString, QDBusVariant)));

    QDBusMessage read =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Read"));
    read << kGroup << kKey;
    const QDBusMessage reply = bus.call(read, QDBus::Block, kReadTimeoutMs);
    if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()) {
        preference_ = toPreference(reply.arguments().constFirst());
    }
}

void PortalColorScheme::settingChanged(const QString& group, const QString& key,
                                       const QDBusVariant& value) {
    if (group != kGroup || key != kKey) {
        return;
    }
    const Preference preference = toPreference(value.variant());
    if (preference != preference_) {
        preference_ = preference;
        emit preferenceChanged();
    }
}

PortalColorScheme::Preference PortalColorScheme::toPreference(QVariant value) {
    // Read wraps the value in a variant, older portals twice.
    while (value.userType() == qMetaTypeId<QDBusVariant>()) {
        value = value.value<QDBusVariant>().variant();
    }
    bool ok = false;
    const uint number = value.toUInt(&ok);
    if (!ok || number > PreferLight) {
        return NoPreference;
    }
    return static_cast<Preference>(number);
}

} // namespace kv::platform
