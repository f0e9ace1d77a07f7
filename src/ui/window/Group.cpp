#include "ui/window/Group.h"

#include "ui/UiScale.h"
#include "ui/theme/QKVTheme.h"
#include "ui/window/Central.h"
#include "ui/window/GroupTitle.h"
#include "ui/window/ProductRow.h"
#include "ui/window/Tabs.h"

#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

namespace kv::portal {

namespace {

constexpr int kInset = 7;
constexpr int kRadius = 6;

// Two announcements stand for the same device when they carry its name or its serial number.
bool sameDevice(const ProductPtr& known, const ProductPtr& arriving) {
    if (known->name == arriving->name) {
        return true;
    }
    const std::string serial = known->serial.get();
    return !serial.empty() && serial == arriving->serial.get();
}

} // namespace

QString Window::Group::titleOf(int index) {
    switch (index) {
    case 0:
        return QStringLiteral("KELMORA+KORVEX");
    case 1:
        return QStringLiteral("RX48");
    case 2:
        return QStringLiteral("KELMORA+VESK");
    case 3:
        return QStringLiteral("KELMORA+PELRA");
    case 4:
        return QStringLiteral("KELMORA NETWORKING TOOLS");
    default:
        return QString();
    }
}

Window::Group::Group(Central* central, int index)
    : QWidget(central), central_(central), layout_(new QVBoxLayout(this)), index_(index),
      title_(new Title(this, central, titleOf(index))) {
    setObjectName(QStringLiteral("group%1").arg(index));
    layout_->setAlignment(Qt::AlignTop);
    const int inset = scaled(kInset);
    layout_->setContentsMargins(inset, inset, inset, inset);
    layout_->setSpacing(inset);
    layout_->addWidget(title_);
}

bool Window::Group::isExpanded() const {
    return title_->isExpanded();
}

std::vector<Window::ProductBase*> Window::Group::rows() const {
    std::vector<ProductBase*> found;
    for (int i = 0; i < layout_->count(); ++i) {
        if (auto* row = qobject_cast<ProductBase*>(layout_->itemAt(i)->widget())) {
            found.push_back(row);
        }
    }
    return found;
}

void Window::Group::addProduct(const ProductPtr& product) {
    const ProductPtr twin = product->twin.get();
    ProductBase* known = findRow(product);
    // A row listed before the device's answers came makes way for the row its serial finds,
    // and a row without the twin's tab for one with both tabs.
    for (ProductBase* listed : rows()) {
        if ((listed != known && listed->product(0) == product) ||
            (listed == known && twin && known->row(1) == nullptr)) {
            if (listed == known) {
                known = nullptr;
            }
            layout_->removeWidget(listed);
            delete listed;
        }
    }
    if (known != nullptr) {
        known->row(0)->setProduct(product);
        if (twin && known->row(1) != nullptr) {
            known->row(1)->setProduct(twin);
        }
        known->hidden = false;
        known->applyVisibility();
        emit known->currentRow()->signalUpdateUI();
        return;
    }
    ProductBase* row = nullptr;
    if (twin) {
        auto* tabs = new Tabs(central_, this);
        tabs->addTab(QStringLiteral("RAVENNA AES67"), product);
        tabs->addTab(QStringLiteral("Dante"), twin);
        tabs->row(0)->show();
        tabs->fitHeight();
        if (twin->running) {
            tabs->setCurrentTab(1);
        }
        row = tabs;
    } else {
        row = new Product(central_, product, this);
    }
    // A row that arrives while the group is folded stays folded with it.
    row->groupExpanded = isExpanded();
    row->applyVisibility();
    layout_->addWidget(row);
    update();
}

void Window::Group::removeProduct(const ProductPtr& product) {
    for (ProductBase* row : rows()) {
        if (row->product(0) == product) {
            row->hidden = true;
            row->hide();
            update();
            return;
        }
    }
}

void Window::Group::setExpanded(bool expanded) {
    for (ProductBase* row : rows()) {
        row->groupExpanded = expanded;
        row->applyVisibility();
    }
}

Window::ProductBase* Window::Group::findRow(const ProductPtr& product) const {
    for (ProductBase* row : rows()) {
        const ProductPtr known = row->product(0);
        if (known && sameDevice(known, product)) {
            return row;
        }
    }
    return nullptr;
}

void Window::Group::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(rect(), scaled(kRadius), scaled(kRadius));
    painter.fillPath(path, QKVTheme::instance()->colorFor(QKVTheme::GroupBackground));
}

} // namespace kv::portal
