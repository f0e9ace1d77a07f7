#include "ui/window/Central.h"

#include "ui/UiScale.h"
#include "ui/window/All.h"
#include "ui/window/FirmwareOnDevice.h"
#include "ui/window/Group.h"
#include "ui/window/Message.h"
#include "ui/window/ProductRow.h"

#include <QDateTime>
#include <QFileInfo>
#include <QLocale>
#include <QScrollArea>
#include <QVBoxLayout>

#include <utility>

namespace kv::portal {

namespace {

constexpr int kTickMs = 1000;
constexpr int32_t kHideAfterSyncMs = 2000;

const QString kHideLink = QStringLiteral("<a href=\"Hide\">Hide</a>");

int groupIndexOf(ProductCode kind) {
    const std::pair<ProductCode, int> table[] = {
        {code::KORVEX_FIRMWARE, 0},
        {code::KORVEX_FIRMWARE_DANTE, 0},
        {code::KORVEX_REMOTE_CONTROLLER, 0},
        {code::RX48_FIRMWARE, 1},
        {code::RX48_FIRMWARE_DANTE, 1},
        {code::RX48_TOOLKIT_CONTROLLER, 1},
        {code::VESK_FIRMWARE, 2},
        {code::VORAVERI_FIRMWARE, 2},
        {code::VORAVERI_FIRMWARE_DANTE, 2},
        {code::VESK_III_FIRMWARE, 2},
        {code::VESK_III_FIRMWARE_DANTE, 2},
        {code::PELRA_FIRMWARE, 3},
        {code::KVDISCOVERY, 4},
        {code::VORNET, 4},
    };
    for (const auto& [code, index] : table) {
        if (code == kind) {
            return index;
        }
    }
    return -1;
}

} // namespace

Window::Central::Central(QWidget* parent, Core* core)
    : QWidget(parent), core_(core), scrollArea_(new QScrollArea(this)), list_(new QWidget),
      listLayout_(new QVBoxLayout(list_)) {
    setObjectName(QStringLiteral("central"));
    qRegisterMetaType<ProductPtr>("kv::portal::ProductPtr");

    scrollArea_->setFrameShape(QFrame::NoFrame);
    scrollArea_->setWidgetResizable(true);
    scrollArea_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    scrollArea_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list_->setObjectName(QStringLiteral("productList"));
    listLayout_->setAlignment(Qt::AlignTop);
    listLayout_->setContentsMargins(scaled(7), scaled(7), scaled(7), scaled(7));
    listLayout_->setSpacing(scaled(7));
    scrollArea_->setWidget(list_);

    // Queued even on the interface thread: the core announces products with its listeners
    // locked, and a new row asks for a sync, which may wait for a sync that is telling its
    // listeners it has finished.
    connect(this, &Central::signalAddProduct, this, &Central::slotAddProduct, Qt::QueuedConnection);
    connect(this, &Central::signalRemoveProduct, this, &Central::slotRemoveProduct,
            Qt::QueuedConnection);

    message_ = new Message(this);
    const int disabled = core_->proxy() != nullptr ? core_->proxy()->getInt("disable_this", 0) : 0;
    message_->slotShow(
        true,
        disabled < 1
            ? QStringLiteral("No compatible software/hardware has been detected")
            : QStringLiteral("Software/Firmware update has been disabled by your administrator"),
        kHideLink);
    listLayout_->addWidget(message_);

    all_ = new All(this);
    core_->addListener(all_);
    listLayout_->addWidget(all_);

    // Rows are made outside the walk: adding one requests a sync, which must not wait for a
    // running sync while the product list is locked.
    std::vector<ProductPtr> known;
    core_->forEachProduct([&known](const ProductPtr& product) {
        known.push_back(product);
        return true;
    });
    for (const ProductPtr& product : known) {
        slotAddProduct(product);
    }

    core_->addListener(this);
    // Found by name: tests tick it themselves.
    timer_.setParent(this);
    timer_.setObjectName(QStringLiteral("tick"));
    connect(&timer_, &QTimer::timeout, this, &Central::tick);
    timer_.start(kTickMs);
}

Window::Central::~Central() {
    core_->removeListener(this);
}

Window::Group* Window::Central::findGroup(ProductCode kind) {
    std::vector<Group*> all = groups();
    if (all.empty()) {
        for (int index = 0; index < Group::kCount; ++index) {
            auto* group = new Group(this, index);
            group->hide();
            listLayout_->addWidget(group);
            all.push_back(group);
        }
    }
    const int index = groupIndexOf(kind);
    for (Group* group : all) {
        if (group->index() == index) {
            group->show();
            return group;
        }
    }
    return nullptr;
}

std::vector<Window::Group*> Window::Central::groups() const {
    std::vector<Group*> found;
    for (int i = 0; i < listLayout_->count(); ++i) {
        if (auto* group = qobject_cast<Group*>(listLayout_->itemAt(i)->widget())) {
            found.push_back(group);
        }
    }
    return found;
}

void Window::Central::productAdded(Core*, ProductPtr product) {
    emit signalAddProduct(product);
}

// A device's Dante twin comes with its probe's answer: its row takes the twin's tab then.
void Window::Central::productProbed(Core*, ProductPtr product) {
    if (product->twin.get()) {
        emit signalAddProduct(product);
    }
}

void Window::Central::productRemoved(Core*, ProductPtr product) {
    emit signalRemoveProduct(product);
}

void Window::Central::syncStarted(Core*) {
    // A hide still pending from the last sync must not take this message away.
    hideCountdownMs_ = -1;
    emit message_->signalShow(
        true, QStringLiteral("Querying Kelmora Technologies server. Please wait..."), kHideLink);
}

void Window::Central::syncFinished(Core*, const std::string& message) {
    if (!message.empty()) {
        QString text = QString::fromStdString(message) + QLatin1Char('.');
        if (core_->usingLocalFile()) {
            const QFileInfo cached(QString::fromStdString(core_->publishFileUrl(true)));
            text += QStringLiteral("\nThe information below is from the last time you have been "
                                   "in sync (") +
                    QLocale::system().toString(cached.lastModified(), QLocale::ShortFormat) +
                    QStringLiteral(").");
        }
        hideCountdownMs_ = -1;
        emit message_->signalShow(true, text, QStringLiteral("<a href=\"ReSync\">Retry</a>"));
    } else {
        hideCountdownMs_ = kHideAfterSyncMs;
    }
    if ((portalUpdateState_ == -1 && message.empty()) || core_->usingLocalFile()) {
        if (const ProductPtr portal = core_->findProductByCode(code::KVPORTAL)) {
            portalUpdateState_ = portal->isUpdateAvailable() ? 0 : 1;
        }
    }
    // By name: a call that Qt alone packs crosses to the interface thread in an order that the
    // thread sanitizer can follow.
    QMetaObject::invokeMethod(this, "update", Qt::QueuedConnection);
}

void Window::Central::slotAddProduct(ProductPtr spProduct) {
    if (spProduct->code != code::KVPORTAL) {
        if (Group* group = findGroup(spProduct->code)) {
            group->addProduct(spProduct);
        }
    } else {
        listLayout_->addWidget(new Product(this, spProduct, list_));
    }
    core_->startSync();
}

void Window::Central::slotRemoveProduct(ProductPtr spProduct) {
    if (Group* group = findGroup(spProduct->code)) {
        group->removeProduct(spProduct);
    }
}

void Window::Central::resizeEvent(QResizeEvent*) {
    scrollArea_->setGeometry(rect());
}

void Window::Central::tick() {
    int32_t countdown = hideCountdownMs_;
    if (countdown > 0 && hideCountdownMs_.compare_exchange_strong(countdown, countdown - 1000)) {
        countdown -= 1000;
    }
    if (countdown == 0 && hideCountdownMs_.compare_exchange_strong(countdown, -1)) {
        emit message_->signalShow(false, QString(), QString());
    }
    for (Group* group : groups()) {
        for (ProductBase* row : group->rows()) {
            const ProductPtr product = row->currentProduct();
            if (product && firmwareRunsOnDevice(product->status)) {
                row->currentRow()->update();
            }
        }
    }
}

} // namespace kv::portal
