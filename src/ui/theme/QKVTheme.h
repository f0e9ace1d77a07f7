#pragma once

#include <QColor>
#include <QMessageBox>
#include <QObject>
#include <QPalette>
#include <QString>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <utility>

class QApplication;
class QLabel;
class QWidget;

namespace kv::platform {
class UiSettings;
}

namespace kv::portal {

// The light or dark look of the whole interface. It follows the desktop's colour scheme at
// start-up and whenever the user changes it while the program runs: application palette and
// style sheet, the colours the list widgets paint with, link colours in labels, title bars.
// One per process, on the interface thread.
class QKVTheme : public QObject {
    Q_OBJECT

public:
    // Numbered background colours of the list; a number never registered paints black.
    enum ThemeColor : uint32_t {
        MessageBackground = 6,
        SummaryBackground = 7,
        GroupBackground = 8,
        TabBackground = 9,
    };

    // The desktop's colour kinds that `systemColor` answers for.
    enum UIColorType { Background = 0, Foreground = 1 };

    // Receives a fully built message box instead of it being shown, and answers for the user.
    using MessageBoxAnswerer = std::function<QMessageBox::StandardButton(QMessageBox& box)>;

    static QKVTheme* instance();

    // Takes the start-up palette, applies the current scheme and starts following changes.
    void initialize(QApplication* app);

    // Asks the desktop every time; nothing is cached.
    bool isDark() const;
    // Background or Foreground as the desktop reports it; black for other kinds.
    QColor systemColor(int uiColorType) const;

    // The first registration of a number wins; later ones are ignored.
    void setColorPair(ThemeColor color, const QColor& light, const QColor& dark);
    QColor colorFor(ThemeColor color) const;

    // The text with a colour style put into every anchor tag, for the current scheme.
    QString linkStyled(const QString& html) const;

    // A registered window is recoloured on every scheme change until it is destroyed.
    // With titleBarOnly only the title bar is set, once.
    void registerWindow(QWidget* window, bool titleBarOnly = false);
    bool isRegistered(const QWidget* window) const;

    QMessageBox::StandardButton showMessageBox(QWidget* parent, const QString& title,
                                               const QString& text, QMessageBox::Icon icon,
                                               QMessageBox::StandardButtons buttons);
    // While set, `showMessageBox` hands its box to the answerer instead of running it; for tests
    // that pass through a question. An empty function restores the real dialog.
    void setMessageBoxAnswerer(MessageBoxAnswerer answerer);

    const QPalette& darkPalette() const { return darkPalette_; }
    // The style sheets applied to the application and registered windows in each scheme.
    QString darkStyleSheet() const;
    static QString lightStyleSheet();

signals:
    // Emitted when the desktop's scheme changed; may come from any thread.
    void signalThemeChanged();

public slots:
    void slotObjectDestroyed(QObject* object);
    void resetQLabelLink(QLabel* pLabel);
    void slotThemeChanged();
    void slotApplicationAboutToQuit();

private:
    QKVTheme();
    ~QKVTheme() override;

    void applyApplicationStyleSheet(bool dark);

    std::map<uint32_t, std::pair<QColor, QColor>> colorPairs_;
    QPalette startupPalette_;
    QPalette darkPalette_;
    std::unique_ptr<platform::UiSettings> uiSettings_;
    std::set<QWidget*> windows_;
    MessageBoxAnswerer answerer_;
};

} // namespace kv::portal
