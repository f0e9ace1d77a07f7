#pragma once

#include <QColor>
#include <QObject>
#include <QPalette>

#include <functional>
#include <memory>

namespace kv::platform {

class PortalColorScheme;

// The desktop's colour scheme as the interface asks for it: foreground and background colours,
// and a signal when they change. KVPORTAL_COLOR_SCHEME ("dark" or "light") decides when set;
// otherwise the freedesktop settings portal, when the session bus offers one with a preference;
// otherwise the system palette.
class UiSettings : public QObject {
    Q_OBJECT

public:
    // Create after the application object, before the program sets palettes of its own.
    UiSettings();
    ~UiSettings() override;

    QColor foreground() const;
    QColor background() const;

    // Runs a change of the application's palette or style that is the program's own doing, so
    // that it is not taken for the desktop's palette.
    void applyOwnLook(const std::function<void()>& change);

signals:
    // May come from any thread.
    void colorValuesChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    enum class Scheme { Unknown, Dark, Light };
    Scheme scheme() const;

    std::unique_ptr<PortalColorScheme> portal_;
    QPalette systemPalette_;
    bool applyingOwnLook_ = false;
};

} // namespace kv::platform
