#include "ui/window/ProductRow.h"

#include "ui/UiScale.h"
#include "ui/theme/QKVTheme.h"
#include "ui/window/Central.h"

#include <QLabel>
#include <QProgressBar>
#include <QVariant>

#include <utility>

namespace kv::portal {

namespace {

constexpr int kInset = 7;
constexpr int kLinkHeight = 20;
constexpr int kProgressX = 117;
constexpr int kProgressHeight = 16;

const char kInLayout[] = "v";

QLabel* makeLink(QWidget* row, const char* objectName) {
    auto* label = new QLabel(row);
    label->setObjectName(QLatin1String(objectName));
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label->setProperty(kInLayout, false);
    label->hide();
    return label;
}

} // namespace

Window::Product::Product(Central* central, ProductPtr product, QWidget* parent, bool roundTop)
    : ProductBase(central, parent), core_(central->core()), product_(std::move(product)),
      name_(product_->name), progress_(new QProgressBar(this)),
      releaseNotesLink_(makeLink(this, "releaseNotesLink")),
      downloadLink_(makeLink(this, "downloadLink")), actionLink_(makeLink(this, "actionLink")),
      roundTop_(roundTop) {
    setObjectName(QStringLiteral("product"));
    progress_->setObjectName(QStringLiteral("progress"));
    progress_->setRange(0, 100);
    progress_->hide();

    QKVTheme* theme = QKVTheme::instance();
    releaseNotesLink_->setText(
        theme->linkStyled(QStringLiteral("<a href=\"ReleaseNotes\">Release Notes</a>")));
    downloadLink_->setText(
        theme->linkStyled(QStringLiteral("<a href=\"Download\">Download Only</a>")));
    for (QLabel* label : {releaseNotesLink_, downloadLink_, actionLink_}) {
        connect(label, &QLabel::linkActivated, this, &Product::slotLinkClicked);
    }
    setMinimumHeight(scaled(kHeight));
    setMaximumHeight(scaled(kHeight));

    connect(this, &Product::signalProgressValue, this, &Product::slotProgressValue);
    connect(this, &Product::signalUpdateUI, this, &Product::slotUpdateUI);
    core_->addListener(this);
    // A product may arrive with its status already worked out.
    slotUpdateUI();
}

Window::Product::~Product() {
    core_->removeListener(this);
}

void Window::Product::setProduct(ProductPtr product) {
    name_.set(product->name);
    product_ = std::move(product);
    update();
}

ProductPtr Window::Product::product(int index) const {
    return index == 0 ? product_ : ProductPtr();
}

ProductPtr Window::Product::currentProduct() const {
    return product_;
}

Window::Product* Window::Product::row(int index) const {
    return index == 0 ? const_cast<Product*>(this) : nullptr;
}

Window::Product* Window::Product::currentRow() const {
    return const_cast<Product*>(this);
}

bool Window::Product::isMine(const char* productName) const {
    return productName != nullptr && name_.get() == productName;
}

void Window::Product::downloadProgress(Core*, const char* productName, const char*,
                                       const float& fraction) {
    if (isMine(productName)) {
        emit signalProgressValue(static_cast<int>(fraction * 100));
    }
}

void Window::Product::updateProgress(Core*, const char* productName, int, const char*,
                                     int percent) {
    if (isMine(productName)) {
        emit signalProgressValue(percent);
    }
}

void Window::Product::statusChanged(Core*, const char* productName) {
    if (isMine(productName)) {
        emit signalUpdateUI();
    }
}

void Window::Product::slotProgressValue(int value) {
    progress_->setValue(value);
}

void Window::Product::setLink(QLabel* label, bool shown, const QString& html) {
    if (!html.isNull()) {
        label->setText(QKVTheme::instance()->linkStyled(html));
    }
    label->setVisible(shown);
    label->setProperty(kInLayout, shown);
}

void Window::Product::resizeEvent(QResizeEvent*) {
    layoutLinks();
}

void Window::Product::layoutLinks() {
    const int inset = scaled(kInset);
    const int linkHeight = scaled(kLinkHeight);
    int stacked = 0;
    for (QLabel* label : {actionLink_, downloadLink_, releaseNotesLink_}) {
        if (label->property(kInLayout).toBool()) {
            ++stacked;
            label->setGeometry(inset, height() - linkHeight * stacked, width() - 2 * inset,
                               linkHeight);
        }
    }
    progress_->setGeometry(scaled(kProgressX), height() - linkHeight, width() / 2,
                           scaled(kProgressHeight));
}

} // namespace kv::portal
