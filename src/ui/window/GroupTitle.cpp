#include "ui/window/GroupTitle.h"

#include "ui/UiScale.h"
#include "ui/theme/QKVTheme.h"
#include "ui/window/Central.h"

#include <QMouseEvent>
#include <QPainter>

namespace kv::portal {

namespace {

constexpr int kHeight = 18;
constexpr int kArrowSize = 16;
constexpr int kTextX = 24;

} // namespace

Window::Group::Title::Title(Group* group, Central* central, const QString& text)
    : QWidget(group), group_(group), central_(central), text_(text) {
    setObjectName(QStringLiteral("groupTitle"));
    setFixedHeight(scaled(kHeight));
}

void Window::Group::Title::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        return;
    }
    expanded_ = !expanded_;
    group_->setExpanded(expanded_);
    update();
}

void Window::Group::Title::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QKVTheme* theme = QKVTheme::instance();
    if (ICallbacks* callbacks = central_->callbacks()) {
        const bool dark = theme->isDark();
        const char* arrow = expanded_ ? (dark ? "theme_arrow_down" : "theme_light_arrow_down")
                                      : (dark ? "theme_arrow_right" : "theme_light_arrow_right");
        if (const QPixmap* pixmap = callbacks->themePixmap(arrow, kArrowSize, kArrowSize)) {
            painter.drawPixmap(0, scaled(1), *pixmap);
        }
    }
    QFont font;
    font.setWeight(QFont::Bold);
    painter.setFont(font);
    painter.setPen(theme->systemColor(QKVTheme::Foreground));
    painter.drawText(rect().adjusted(scaled(kTextX), 0, 0, 0), Qt::AlignLeft | Qt::AlignTop, text_);
}

} // namespace kv::portal
