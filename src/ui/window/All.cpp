#include "ui/window/All.h"

#include "ui/UiScale.h"
#include "ui/theme/QKVTheme.h"
#include "ui/window/Central.h"
#include "ui/window/Group.h"
#include "ui/window/ProductRow.h"

#include <QLabel>
#include <QPainter>
#include <QPainterPath>

namespace kv::portal {

namespace {

constexpr int kHeight = 28;
constexpr int kInset = 14;
constexpr int kRadius = 6;

} // namespace

Window::All::All(Central* central)
    : QWidget(central), central_(central), core_(central->core()), text_(new QLabel(this)),
      link_(new QLabel(this)) {
    setObjectName(QStringLiteral("summary"));
    setFixedHeight(scaled(kHeight));
    hide();
    text_->setObjectName(QStringLiteral("summaryText"));
    text_->setTextFormat(Qt::PlainText);
    text_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    link_->setObjectName(QStringLiteral("summaryLink"));
    link_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    link_->setText(
        QKVTheme::instance()->linkStyled(QStringLiteral("<a href=\"UpdateAll\">Update All</a>")));
    connect(link_, &QLabel::linkActivated, this, &All::slotLinkClicked);
    connect(this, &All::signalUpdateUI, this, &All::slotUpdateUI);
}

Window::All::~All() {
    // Deleted as a child of the central widget, which is no longer a Central by then.
    core_->removeListener(this);
}

void Window::All::productAdded(Core*, ProductPtr) {
    emit signalUpdateUI();
}

void Window::All::productRemoved(Core*, ProductPtr) {
    emit signalUpdateUI();
}

void Window::All::statusChanged(Core*, const char*) {
    emit signalUpdateUI();
}

void Window::All::slotUpdateUI() {
    int firmware = 0;
    int software = 0;
    int total = 0;
    core_->countUpdates(firmware, software, total);
    if (total < 1) {
        hide();
        return;
    }
    text_->setText(QStringLiteral("Firmware(%1) / Software(%2): Total %3 products require update")
                       .arg(firmware)
                       .arg(software)
                       .arg(total));
    show();
}

void Window::All::slotLinkClicked(const QString&) {
    const std::vector<Group*> groups = central_->groups();
    for (Group* group : groups) {
        for (const bool firmwarePass : {true, false}) {
            for (ProductBase* row : group->rows()) {
                const ProductPtr product = row->currentProduct();
                if (row->hidden || !product || !product->isUpdateAvailable() ||
                    product->isFirmware() != firmwarePass) {
                    continue;
                }
                Product* current = row->currentRow();
                // Rows that are busy or download-only are left alone.
                if (current->offersUpdate()) {
                    current->slotLinkClicked(QStringLiteral("Update"));
                }
            }
        }
    }
    hide();
}

void Window::All::resizeEvent(QResizeEvent*) {
    const int inset = scaled(kInset);
    text_->setGeometry(inset, 0, width(), height());
    link_->setGeometry(0, 0, width() - inset, height());
}

void Window::All::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(rect(), scaled(kRadius), scaled(kRadius));
    painter.fillPath(path, QKVTheme::instance()->colorFor(QKVTheme::SummaryBackground));
}

} // namespace kv::portal
