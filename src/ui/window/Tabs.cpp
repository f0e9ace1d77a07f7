#include "ui/window/Tabs.h"

#include "ui/UiScale.h"
#include "ui/theme/QKVTheme.h"
#include "ui/window/ProductRow.h"
#include "ui/window/RoundedPath.h"

#include <QMouseEvent>
#include <QPainter>

namespace kv::portal {

namespace {

constexpr int kRadius = 6;
constexpr int kInactiveTop = 2;
constexpr int kTitlePointSize = 9;

} // namespace

Window::Tabs::Tabs(Central* central, QWidget* parent) : ProductBase(central, parent) {
    setObjectName(QStringLiteral("tabs"));
}

void Window::Tabs::addTab(const QString& title, const ProductPtr& product) {
    auto* row = new Product(central(), product, this, false);
    row->hide();
    row->setGeometry(0, scaled(kHeaderHeight), width(), height() - scaled(kHeaderHeight));
    tabs_.emplace_back(title, row);
}

void Window::Tabs::setCurrentTab(int index) {
    if (index == current_ || index < 0 || index >= count()) {
        return;
    }
    for (int i = 0; i < count(); ++i) {
        Product* row = tabs_[i].second;
        row->setVisible(i == index);
        if (i == index) {
            emit row->signalUpdateUI();
        }
    }
    current_ = index;
    fitHeight();
    update();
}

QString Window::Tabs::tabTitle(int index) const {
    return index >= 0 && index < count() ? tabs_[index].first : QString();
}

void Window::Tabs::fitHeight() {
    if (Product* current = currentRow()) {
        const int height = scaled(kHeaderHeight) + current->minimumHeight();
        setMinimumHeight(height);
        setMaximumHeight(height);
    }
}

ProductPtr Window::Tabs::product(int index) const {
    Product* tab = row(index);
    return tab != nullptr ? tab->currentProduct() : ProductPtr();
}

ProductPtr Window::Tabs::currentProduct() const {
    return product(current_);
}

Window::Product* Window::Tabs::row(int index) const {
    return index >= 0 && index < count() ? tabs_[index].second : nullptr;
}

Window::Product* Window::Tabs::currentRow() const {
    return row(current_);
}

void Window::Tabs::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || event->pos().y() > scaled(kHeaderHeight) ||
        event->pos().x() < 0) {
        return;
    }
    const int index = event->pos().x() / scaled(kTabWidth);
    if (index < count()) {
        setCurrentTab(index);
    }
}

void Window::Tabs::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QKVTheme* theme = QKVTheme::instance();
    const bool dark = theme->isDark();
    const int tabWidth = scaled(kTabWidth);
    const int headerHeight = scaled(kHeaderHeight);
    QFont font = painter.font();
    font.setPointSize(kTitlePointSize);
    painter.setFont(font);
    for (int i = 0; i < count(); ++i) {
        const bool current = i == current_;
        const int top = current ? 0 : scaled(kInactiveTop);
        const QRect tab(i * tabWidth, top, tabWidth, headerHeight - top);
        painter.fillPath(roundedPath(tab, scaled(kRadius), true, false),
                         current ? (dark ? QColor(43, 43, 43) : QColor(255, 255, 255))
                                 : theme->colorFor(QKVTheme::TabBackground));
        painter.setPen(current ? theme->systemColor(QKVTheme::Foreground)
                               : (dark ? QColor(150, 150, 150) : QColor(100, 100, 100)));
        painter.drawText(QRect(i * tabWidth, 0, tabWidth, headerHeight), Qt::AlignCenter,
                         tabs_[i].first);
    }
}

void Window::Tabs::resizeEvent(QResizeEvent*) {
    const int headerHeight = scaled(kHeaderHeight);
    for (const auto& tab : tabs_) {
        tab.second->setGeometry(0, headerHeight, width(), height() - headerHeight);
    }
}

} // namespace kv::portal
