#pragma once

#include <QDBusVariant>
#include <QObject>

namespace kv::platform {

// The "color-scheme" setting of the freedesktop settings portal on the session bus, read once
// and then kept up to date by the portal's SettingChanged signal.
class PortalColorScheme : public QObject {
    Q_OBJECT

public:
    // The portal's values: 0 no preference, 1 prefer dark, 2 prefer light.
    enum Preference : uint { NoPreference = 0, PreferDark = 1, PreferLight = 2 };

    PortalColorScheme();

    Preference preference() const { return preference_; }

signals:
    void preferenceChanged();

private slots:
    void settingChanged(const QString& group, const QString& key, const QDBusVariant& value);

private:
    static Preference toPreference(QVariant value);

    Preference preference_ = NoPreference;
};

} // namespace kv::platform
