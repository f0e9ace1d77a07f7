#include "platform/qt/UiSettings.h"

#include "platform/qt/PortalColorScheme.h"

#include <QEvent>
#include <QGuiApplication>

namespace kv::platform {

UiSettings::UiSettings()
    : portal_(std::make_unique<PortalColorScheme>()), systemPalette_(QGuiApplication::palette()) {
    connect(portal_.get(), &PortalColorScheme::preferenceChanged, this,
            &UiSettings::colorValuesChanged);
    if (QCoreApplication* app = QCoreApplication::instance()) {
        app->installEventFilter(this);
    }
}

UiSettings::~UiSettings() = default;

QColor UiSettings::foreground() const {
    switch (scheme()) {
    case Scheme::Dark:
        return QColor(255, 255, 255);
    case Scheme::Light:
        return QColor(0, 0, 0);
    case Scheme::Unknown:
        break;
    }
    return systemPalette_.color(QPalette::WindowText);
}

QColor UiSettings::background() const {
    switch (scheme()) {
    case Scheme::Dark:
        return QColor(0, 0, 0);
    case Scheme::Light:
        return QColor(255, 255, 255);
    case Scheme::Unknown:
        break;
    }
    return systemPalette_.color(QPalette::Window);
}

void UiSettings::applyOwnLook(const std::function<void()>& change) {
    const bool outer = !applyingOwnLook_;
    applyingOwnLook_ = true;
    change();
    if (outer) {
        applyingOwnLook_ = false;
    }
}

bool UiSettings::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::ApplicationPaletteChange &&
        watched == QCoreApplication::instance() && !applyingOwnLook_) {
        const QPalette before = systemPalette_;
        systemPalette_ = QGuiApplication::palette();
        if (systemPalette_.color(QPalette::WindowText) != before.color(QPalette::WindowText) ||
            systemPalette_.color(QPalette::Window) != before.color(QPalette::Window)) {
            emit colorValuesChanged();
        }
    }
    return QObject::eventFilter(watched, event);
}

UiSettings::Scheme UiSettings::scheme() const {
    const QString forced = qEnvironmentVariable("KVPORTAL_COLOR_SCHEME").toLower();
    if (forced == QLatin1String("dark")) {
        return Scheme::Dark;
    }
    if (forced == QLatin1String("light")) {
        return Scheme::Light;
    }
    switch (portal_->preference()) {
    case PortalColorScheme::PreferDark:
        return Scheme::Dark;
    case PortalColorScheme::PreferLight:
        return Scheme::Light;
    case PortalColorScheme::NoPreference:
        break;
    }
    return Scheme::Unknown;
}

} // namespace kv::platform
