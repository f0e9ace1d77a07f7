#include "ui/manager/Manager.h"

#include "client.h"
#include "core/Core.h"
#include "ui/QtProxy.h"
#include "ui/UiScale.h"
#include "ui/manager/BrowserListener.h"
#include "ui/manager/DeviceWatcher.h"
#include "ui/theme/QKVTheme.h"

#include <QFile>
#include <QIcon>
#include <QMetaObject>
#include <QSize>
#include <QString>

namespace kv::portal {

namespace {

constexpr char kDanteSuffix[] = "-DANTE";

const char* const kSubtypes[] = {"_ravenna", "_kelmora_dante_zman", "_kelmora_maintenance"};

QPixmap iconPixmap(const QString& resource, int width, int height) {
    return QIcon(resource).pixmap(QSize(width, height), QIcon::Normal, QIcon::Off);
}

bool endsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::string withoutAll(std::string text, const std::string& part) {
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at)) {
        text.erase(at, part.size());
    }
    return text;
}

} // namespace

Manager::Manager()
    : core_(std::make_unique<Core>()), link_(std::make_shared<ListenerLink>(this)),
      refreshTarget_(std::make_unique<QTimer>()) {
    refreshTarget_->setSingleShot(true);
    refreshTarget_->setInterval(0);
    QObject::connect(refreshTarget_.get(), &QTimer::timeout, [this] {
        refreshPosted_ = false;
        refresh();
    });
    core_->setProxy(std::make_unique<QtProxy>());
    core_->setIpcEnabled(true);
    if (core_->proxy()->getInt("zeroconf_ext", 0) == 1) {
        watcher_ = std::make_unique<DeviceWatcher>(this);
    }
}

Manager::~Manager() {
    // Listener calls in progress finish first; later ones, and the watcher, find nothing.
    link_->detach();
    watcher_.reset();
    refreshTarget_.reset();
    darkPixmaps_.clear();
    lightPixmaps_.clear();
    browsers_.clear();
    core_.reset();
}

void Manager::start() {
    const Version unknown;
    for (ProductCode application : {code::KVPORTAL, code::VORNET, code::KVDISCOVERY}) {
        core_->addProduct(application, applicationName(application), "", unknown);
    }
    core_->startSync();

    const std::shared_ptr<zeroconf::client> client = zeroconf::create_client(-1);
    const auto listener = std::make_shared<BrowserListener>(link_);
    for (const char* subtype : kSubtypes) {
        browsers_.push_back(client->browse("", "_http._tcp", subtype, listener, false));
    }
}

QPixmap* Manager::productPixmap(const char* productCode) {
    const std::string code = productCode;
    if (endsWith(code, kDanteSuffix)) {
        return productPixmap(withoutAll(code, kDanteSuffix).c_str());
    }
    const bool dark = QKVTheme::instance()->isDark();
    auto& cache = dark ? darkPixmaps_ : lightPixmaps_;
    const auto cached = cache.find(code);
    if (cached != cache.end()) {
        return cached->second.get();
    }

    const int side = scaled(96);
    QString resource = QStringLiteral(":/") + QString::fromStdString(code);
    if (!QFile::exists(resource)) {
        resource +=
            QKVTheme::instance()->isDark() ? QStringLiteral("-DARK") : QStringLiteral("-LIGHT");
    }
    cache[code] = std::make_unique<QPixmap>(iconPixmap(resource, side, side));
    return cache[code].get();
}

QPixmap* Manager::themePixmap(const char* imageName, int width, int height) {
    const std::string name = imageName;
    const auto cached = lightPixmaps_.find(name);
    if (cached != lightPixmaps_.end()) {
        return cached->second.get();
    }
    auto& pixmap = lightPixmaps_[name];
    pixmap = std::make_unique<QPixmap>(iconPixmap(
        QStringLiteral(":/") + QString::fromStdString(name), scaled(width), scaled(height)));
    return pixmap.get();
}

const char* Manager::selectedUid() {
    return uid_.c_str();
}

void Manager::refresh() {
    browsers_.clear();
    core_->removeFirmwareProducts();
    start();
}

void Manager::requestRefresh() {
    if (refreshPosted_.exchange(true)) {
        return;
    }
    // Started by name: a call that Qt alone packs crosses to the interface thread in an order
    // that the thread sanitizer can follow.
    QMetaObject::invokeMethod(refreshTarget_.get(), "start", Qt::QueuedConnection);
}

} // namespace kv::portal
