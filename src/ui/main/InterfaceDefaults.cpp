#include "ui/main/InterfaceDefaults.h"

#include "ui/UiScale.h"

#include <QApplication>
#include <QDesktopWidget>

namespace kv::portal {

float scaleForDpi(int logicalDpi) {
    return static_cast<float>(logicalDpi / 96.0);
}

void setScaleFromDesktop() {
    setUiScale(scaleForDpi(QApplication::desktop()->logicalDpiX()));
}

QFont applicationFont() {
    QFont font(QStringLiteral("Calibri"), 10, -1, false);
    font.setStyleHint(QFont::Monospace, QFont::PreferDefault);
    return font;
}

} // namespace kv::portal
