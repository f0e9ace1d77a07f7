#include "ui/theme/QKVTheme.h"

#include "platform/qt/TitleBar.h"
#include "platform/qt/UiSettings.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QWidget>

#include <algorithm>

// The images and the style sheet are compiled into this static library; nothing refers to
// their registration, so it must be pulled in by hand.
static void registerResources() {
    Q_INIT_RESOURCE(resources);
}

namespace kv::portal {
namespace {

QKVTheme* single = nullptr;

const QString kLightStyleSheet = QStringLiteral(
    "QPushButton QLineEdit QToolButton QComboBox QScrollBar QToolTip QMenu QMenuBar");
const QString kDarkMessageBoxStyleSheet =
    QStringLiteral("background-color: rgb(43, 43, 43);color: rgb(255, 255, 255);");

// A light foreground means a dark background.
bool isLightForeground(const QColor& foreground) {
    return 5 * foreground.green() + 2 * foreground.red() + foreground.blue() > 1024;
}

QPalette makeDarkPalette() {
    QPalette palette;
    palette.setColor(QPalette::Window, QColor(0, 0, 0));
    palette.setColor(QPalette::WindowText, Qt::white);
    palette.setColor(QPalette::Base, QColor(25, 25, 25));
    palette.setColor(QPalette::AlternateBase, QColor(50, 50, 50));
    palette.setColor(QPalette::ToolTipBase, Qt::black);
    palette.setColor(QPalette::ToolTipText, Qt::white);
    palette.setColor(QPalette::Text, Qt::white);
    palette.setColor(QPalette::Button, QColor(50, 50, 50));
    palette.setColor(QPalette::ButtonText, Qt::white);
    palette.setColor(QPalette::BrightText, Qt::red);
    palette.setColor(QPalette::Link, QColor(42, 130, 218));
    palette.setColor(QPalette::Highlight, QColor(42, 130, 218));
    palette.setColor(QPalette::HighlightedText, Qt::black);
    return palette;
}

} // namespace

QKVTheme* QKVTheme::instance() {
    if (!single) {
        single = new QKVTheme;
    }
    return single;
}

QKVTheme::QKVTheme() : darkPalette_(makeDarkPalette()) {
    registerResources();
    uiSettings_ = std::make_unique<platform::UiSettings>();
}

QKVTheme::~QKVTheme() {
    if (single == this) {
        single = nullptr;
    }
}

void QKVTheme::initialize(QApplication* app) {
    startupPalette_ = app->palette();
    const bool dark = isDark();
    uiSettings_->applyOwnLook([this, dark] {
        if (dark) {
            QApplication::setPalette(darkPalette_);
        }
        applyApplicationStyleSheet(dark);
    });
    connect(uiSettings_.get(), &platform::UiSettings::colorValuesChanged, this,
            &QKVTheme::signalThemeChanged, Qt::UniqueConnection);
    connect(this, &QKVTheme::signalThemeChanged, this, &QKVTheme::slotThemeChanged,
            Qt::UniqueConnection);
    connect(app, &QCoreApplication::aboutToQuit, this, &QKVTheme::slotApplicationAboutToQuit,
            Qt::UniqueConnection);
}

bool QKVTheme::isDark() const {
    return isLightForeground(systemColor(Foreground));
}

QColor QKVTheme::systemColor(int uiColorType) const {
    switch (uiColorType) {
    case Background:
        return uiSettings_->background();
    case Foreground:
        return uiSettings_->foreground();
    default:
        return QColor(Qt::black);
    }
}

void QKVTheme::setColorPair(ThemeColor color, const QColor& light, const QColor& dark) {
    colorPairs_.emplace(color, std::make_pair(light, dark));
}

QColor QKVTheme::colorFor(ThemeColor color) const {
    const auto pair = colorPairs_.find(color);
    if (pair == colorPairs_.end()) {
        return QColor(Qt::black);
    }
    return isDark() ? pair->second.second : pair->second.first;
}

QString QKVTheme::linkStyled(const QString& html) const {
    const QString style = isLightForeground(systemColor(Foreground))
                              ? QStringLiteral(" style=\"color: rgb(42, 130, 218);\"")
                              : QStringLiteral(" style=\"color: rgb(0, 0, 255);\"");
    QString styled = html;
    int from = 0;
    for (;;) {
        const int anchor = styled.indexOf(QLatin1String("<a"), from);
        if (anchor < 0) {
            break;
        }
        const int end = styled.indexOf(QLatin1Char('>'), anchor + 2);
        if (end < 0) {
            break;
        }
        styled.insert(end, style);
        from = end + style.size() + 1;
    }
    return styled;
}

void QKVTheme::registerWindow(QWidget* window, bool titleBarOnly) {
    if (!window) {
        return;
    }
    if (!titleBarOnly && windows_.insert(window).second) {
        connect(window, &QObject::destroyed, this, &QKVTheme::slotObjectDestroyed);
    }
    platform::setDarkTitleBar(window, isDark());
}

bool QKVTheme::isRegistered(const QWidget* window) const {
    return windows_.count(const_cast<QWidget*>(window)) > 0;
}

QMessageBox::StandardButton QKVTheme::showMessageBox(QWidget* parent, const QString& title,
                                                     const QString& text, QMessageBox::Icon icon,
                                                     QMessageBox::StandardButtons buttons) {
    QMessageBox box(icon, title, text, buttons, parent);
    // Texts carry names that devices give themselves: never read them as markup.
    box.setTextFormat(Qt::PlainText);
    if (isDark()) {
        box.setStyleSheet(kDarkMessageBoxStyleSheet);
    }
    registerWindow(&box, true);
    if (answerer_) {
        return answerer_(box);
    }
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

void QKVTheme::setMessageBoxAnswerer(MessageBoxAnswerer answerer) {
    answerer_ = std::move(answerer);
}

QString QKVTheme::darkStyleSheet() const {
    QFile file(QStringLiteral(":/kv_dark_theme"));
    if (!file.open(QIODevice::ReadOnly)) {
        return QString();
    }
    return QString::fromUtf8(file.readAll());
}

QString QKVTheme::lightStyleSheet() {
    return kLightStyleSheet;
}

void QKVTheme::slotObjectDestroyed(QObject* object) {
    // Only the address is compared: the widget part of the object is already gone.
    const auto found = std::find_if(windows_.begin(), windows_.end(), [object](QWidget* window) {
        return static_cast<QObject*>(window) == object;
    });
    if (found != windows_.end()) {
        windows_.erase(found);
    }
}

void QKVTheme::resetQLabelLink(QLabel* pLabel) {
    pLabel->setText(linkStyled(pLabel->text()));
}

void QKVTheme::slotThemeChanged() {
    const bool dark = isDark();
    const QPalette& palette = dark ? darkPalette_ : startupPalette_;
    const QString styleSheet = dark ? darkStyleSheet() : lightStyleSheet();
    uiSettings_->applyOwnLook([&] {
        QApplication::setPalette(palette);
        if (qobject_cast<QApplication*>(QCoreApplication::instance())) {
            applyApplicationStyleSheet(dark);
        }
        for (QWidget* window : windows_) {
            platform::setDarkTitleBar(window, dark);
            window->setPalette(palette);
            for (QWidget* child : window->findChildren<QWidget*>()) {
                child->setPalette(palette);
                if (auto* label = qobject_cast<QLabel*>(child)) {
                    resetQLabelLink(label);
                }
            }
            if (!styleSheet.isEmpty()) {
                window->setStyleSheet(styleSheet);
            }
        }
    });
}

void QKVTheme::slotApplicationAboutToQuit() {
    if (single == this) {
        single = nullptr;
    }
    deleteLater();
}

void QKVTheme::applyApplicationStyleSheet(bool dark) {
    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (!app) {
        return;
    }
    if (!dark) {
        app->setStyleSheet(kLightStyleSheet);
        return;
    }
    const QString styleSheet = darkStyleSheet();
    if (!styleSheet.isEmpty()) {
        app->setStyleSheet(styleSheet);
    }
}

} // namespace kv::portal
