#pragma once

#include "CoreTestEnvironment.h"
#include "FixedSettings.h"
#include "RecordingListener.h"
#include "ReleaseServer.h"
#include "TempDir.h"
#include "core/Core.h"
#include "ui/UiScale.h"
#include "ui/window/ProductRow.h"
#include "ui/window/Window.h"

#include <QDBusConnection>
#include <QDesktopServices>
#include <QLabel>
#include <QMessageBox>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <QTimerEvent>

#include <gtest/gtest.h>

#include <deque>
#include <map>

namespace kv::test {

using namespace kv::portal;

// A loopback port where nothing listens: every connection is refused at once.
constexpr char kRefused[] = "http://127.0.0.1:9";

// Settings of the test's choosing; writes down the programs it is asked to start.
class RecordingProxy : public FixedSettings {
public:
    int runProgram(const char* program, const char*, int count, const char* const* arguments,
                   bool wait) override {
        starts.push_back(program);
        for (int i = 0; i < count; ++i) {
            starts.back() += std::string(" ") + arguments[i];
        }
        starts.back() += wait ? " (waited for)" : "";
        return 0;
    }
    std::vector<std::string> starts;
};

// The desktop as the program meets it: the browser of the given schemes, and a file manager on
// the test's session bus (on a connection of its own, so that the program's calls travel through
// the bus daemon). Keeps every address opened and "method uri" for every file manager call.
class Desktop : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")
public:
    explicit Desktop(const QStringList& schemes) : schemes_(schemes) {
        for (const QString& scheme : schemes_) {
            QDesktopServices::setUrlHandler(scheme, this, "open");
        }
        QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "files");
        EXPECT_TRUE(bus.registerObject(kPath, this, QDBusConnection::ExportAllSlots) &&
                    bus.registerService(kService));
    }
    ~Desktop() override {
        for (const QString& scheme : schemes_) {
            QDesktopServices::unsetUrlHandler(scheme);
        }
        QDBusConnection("files").unregisterService(kService);
        QDBusConnection("files").unregisterObject(kPath);
        // The bus's thread, tearing the connection down, must not look at this object as it goes.
        disconnect();
        QDBusConnection::disconnectFromBus("files");
    }
    QStringList opened;
public slots:
    void open(const QUrl& url) { opened << url.toEncoded(); }
    void ShowItems(const QStringList& uris, const QString&) { opened << "ShowItems " + uris[0]; }
    void ShowFolders(const QStringList& uris, const QString&) {
        opened << "ShowFolders " + uris[0];
    }

private:
    static constexpr char kService[] = "org.freedesktop.FileManager1";
    static constexpr char kPath[] = "/org/freedesktop/FileManager1";
    QStringList schemes_;
};

// A real core with a private Downloads folder whose catalogue server refuses connections, the
// real main window, and a release server. Message boxes are kept as "title: text" and answered
// from `answers` (then with no button); agreements are kept as "text (width x height)" and
// answered from `agree` (then declined). The window's pictures are grey, at the sizes asked for.
class WindowTest : public ::testing::Test, public Window::ICallbacks {
protected:
    WindowTest();
    ~WindowTest() override;

    QPixmap* productPixmap(const char* code) override { return themePixmap(code, 96, 96); }
    QPixmap* themePixmap(const char* name, int width, int height) override {
        QPixmap& pixmap = pixmaps_[name];
        if (pixmap.isNull()) {
            pixmap = QPixmap(scaled(width), scaled(height));
            pixmap.fill(Qt::darkGray);
        }
        return &pixmap;
    }
    void refresh() override { ++refreshes; }

    void showWindow() {
        window = Window::showMainWindow(nullptr, core.get(), this);
        EXPECT_TRUE(QTest::qWaitForWindowExposed(window));
        // The window's one-second tick comes only from tick().
        window->findChild<QTimer*>("tick")->start(24 * 3600 * 1000);
    }
    ProductPtr addProduct(ProductCode code, const std::string& name,
                          const std::string& address = {}, const char* version = "1.0.0b1") {
        Version installed;
        installed.parseVersion(version);
        RecordingListener probes;
        core->addListener(&probes);
        EXPECT_TRUE(core->addProduct(code, name, address, installed));
        // A device's serial and twin come with its probe's answer.
        EXPECT_TRUE(address.empty() || probes.waitFor("probed " + name));
        core->removeListener(&probes);
        // Rows are made from queued signals.
        QCoreApplication::processEvents();
        return core->findProduct(name);
    }
    void removeProduct(const std::string& name) {
        core->removeProduct(name);
        QCoreApplication::processEvents();
    }
    // A release record as a sync would give it; its package cannot be fetched.
    void giveRelease(const ProductPtr& product, const char* version, const std::string& notes = {},
                     const std::string& agreement = {}) {
        auto release = std::make_shared<Product::Cloud>();
        release->version.parseVersion(version);
        release->fileName = std::string(product->code) + "-" + version + ".bin";
        release->link = std::string(kRefused) + "/" + release->fileName;
        release->releaseNotesLink = notes;
        release->agreementLink = agreement;
        product->cloud.set(release);
    }
    // From a different status first, so that the row hears of a change.
    void setStatus(const ProductPtr& product, uint32_t status, int32_t errorCode = 0) {
        product->errorCode = errorCode;
        core->setStatus(product, status == None ? UpToDate : None);
        core->setStatus(product, status);
    }
    bool waitFor(const std::function<bool()>& condition) {
        return QTest::qWaitFor(condition, 20000);
    }
    Window::Product* row(const std::string& name) const {
        for (Window::Product* candidate : window->findChildren<Window::Product*>()) {
            if (candidate->product(0) && candidate->product(0)->name == name) {
                return candidate;
            }
        }
        return nullptr;
    }
    QWidget* child(const char* name) const { return window->findChild<QWidget*>(name); }
    QLabel* label(const char* name) const { return window->findChild<QLabel*>(name); }
    static QLabel* link(QWidget* row, const char* name) {
        return row->findChild<QLabel*>(name, Qt::FindDirectChildrenOnly);
    }
    // Waits until the list's layouts have given the row its place across the window.
    static bool laidOut(QWidget* row) {
        return QTest::qWaitFor([row] { return row->width() > scaled(500); });
    }
    static QColor pixel(QWidget* widget, int x, int y) {
        return widget->grab().toImage().pixelColor(x, y);
    }
    // The texts the widget paints, in painting order.
    static QStringList paintedTexts(QWidget* widget);
    static QString href(const QLabel* label) {
        return QRegularExpression("<a href=\"([^\"]*)\"").match(label->text()).captured(1);
    }
    // A left click on the end of a right-aligned link, once it is laid out.
    static void clickLink(QLabel* label) {
        ASSERT_TRUE(QTest::qWaitFor([&] { return label->isVisible() && label->width() > 0; }))
            << label->objectName().toStdString();
        QTest::mouseClick(label, Qt::LeftButton, {},
                          QPoint(label->width() - 3, label->height() / 2));
    }
    void tick() {
        auto* ticks = window->findChild<QTimer*>("tick");
        QTimerEvent event(ticks->timerId());
        QCoreApplication::sendEvent(ticks, &event);
        QCoreApplication::processEvents();
    }

    CoreTestEnvironment environment;
    std::unique_ptr<Core> core;
    RecordingProxy* proxy = nullptr;
    int refreshes = 0;
    Window* window = nullptr;
    QStringList questions;
    std::deque<QMessageBox::StandardButton> answers;
    QStringList agreements;
    std::deque<bool> agree;
    TempDir releases;
    ReleaseServer server{releases.path()};

private:
    std::map<std::string, QPixmap> pixmaps_;
};

} // namespace kv::test
