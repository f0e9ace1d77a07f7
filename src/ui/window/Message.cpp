#include "ui/window/Message.h"

#include "core/Core.h"
#include "ui/UiScale.h"
#include "ui/theme/QKVTheme.h"
#include "ui/window/Central.h"

#include <QEvent>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>

namespace kv::portal {

namespace {

constexpr int kOneLineHeight = 28;
constexpr int kTwoLineHeight = 42;
constexpr int kInset = 14;
constexpr int kRadius = 6;

} // namespace

Window::Message::Message(Central* central)
    : QWidget(central), central_(central), text_(new QLabel(this)), link_(new QLabel(this)) {
    setObjectName(QStringLiteral("message"));
    text_->setObjectName(QStringLiteral("messageText"));
    text_->setTextFormat(Qt::PlainText);
    text_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    keepTextBlack();
    text_->installEventFilter(this);

    link_->setObjectName(QStringLiteral("messageLink"));
    link_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    connect(link_, &QLabel::linkActivated, this, &Message::slotLinkClicked);
    connect(this, &Message::signalShow, this, &Message::slotShow);
}

void Window::Message::slotShow(bool show, const QString& text, const QString& link) {
    if (show) {
        const int height =
            scaled(text.contains(QLatin1Char('\n')) ? kTwoLineHeight : kOneLineHeight);
        setMinimumHeight(height);
        setMaximumHeight(height);
        text_->setText(text);
        link_->setText(QKVTheme::instance()->linkStyled(link));
    }
    setVisible(show);
}

void Window::Message::slotLinkClicked(const QString& link) {
    if (link == QLatin1String("Hide")) {
        emit signalShow(false, QString(), QString());
    } else if (link == QLatin1String("ReSync")) {
        text_->setText(QStringLiteral("Retrying..."));
        link_->clear();
        central_->core()->setForceRefresh();
        central_->core()->startSync();
    }
}

// The panel is light in both schemes, while a scheme change gives every widget the scheme's
// palette, white text included in the dark one.
void Window::Message::keepTextBlack() {
    QPalette palette = text_->palette();
    if (palette.color(QPalette::WindowText) != QColor(Qt::black)) {
        palette.setColor(QPalette::WindowText, Qt::black);
        text_->setPalette(palette);
    }
}

bool Window::Message::eventFilter(QObject* watched, QEvent* event) {
    if (watched == text_ && event->type() == QEvent::PaletteChange) {
        keepTextBlack();
    }
    return QWidget::eventFilter(watched, event);
}

void Window::Message::resizeEvent(QResizeEvent*) {
    const int inset = scaled(kInset);
    text_->setGeometry(inset, 0, width(), height());
    link_->setGeometry(0, 0, width() - inset, height());
}

void Window::Message::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(rect(), scaled(kRadius), scaled(kRadius));
    painter.fillPath(path, QKVTheme::instance()->colorFor(QKVTheme::MessageBackground));
}

} // namespace kv::portal
