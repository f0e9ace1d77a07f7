#include "DeviceSimulator.h"
#include "WindowFixture.h"
#include "kvcurl/kvcurl.h"
#include "ui/theme/QKVTheme.h"
#include "ui/window/Central.h"
#include "ui/window/Group.h"
#include "ui/window/GroupTitle.h"
#include "ui/window/Tabs.h"

#include <QAction>
#include <QFileInfo>
#include <QLocale>
#include <QMenuBar>
#include <QTreeWidget>

#include <filesystem>

namespace kv::test {
namespace {

class MainWindow : public WindowTest {
protected:
    MainWindow() { core->addListener(&events); }
    ~MainWindow() override {
        core->removeListener(&events);
        switchTo("light");
    }
    void trigger(const char* action) { window->findChild<QAction*>(action)->trigger(); }
    static void switchTo(const char* scheme) {
        ::setenv("KVPORTAL_COLOR_SCHEME", scheme, 1);
        QKVTheme::instance()->slotThemeChanged();
    }
    // A catalogue of "ID VERSION" entries whose packages cannot be fetched.
    void publish(const QStringList& entries) {
        QStringList text;
        for (const QString& entry : entries) {
            const QStringList part = entry.split(' ');
            text << QString("{\"ID\":\"%1\",\"IV\":\"%2\",\"IF\":\"%1.bin\",\"LK\":\"%3/%1.bin\"}")
                        .arg(part[0], part[1], kRefused);
        }
        writeFile(releases.file("dozoPublishConf.json"),
                  "{\"products\":[" + text.join(',').toStdString() + "]}");
        proxy->set("publish_file", server.url("/dozoPublishConf.json"));
    }
    int syncs() const { return static_cast<int>(events.startingWith("syncFinished").size()); }
    void sync(const std::function<void()>& request) {
        const int before = syncs();
        request();
        ASSERT_TRUE(waitFor([&] { return syncs() > before; }));
        QCoreApplication::processEvents();
    }
    QString message() const { return label("messageText")->text(); }
    Window::Group* group(int index) const { return window->central()->groups().at(index); }
    Window::Tabs* tabsOf(const std::string& name) const {
        return qobject_cast<Window::Tabs*>(row(name)->parentWidget());
    }
    static void clickAt(QWidget* widget, int x, int y, Qt::MouseButton button = Qt::LeftButton) {
        QTest::mouseClick(widget, button, {}, QPoint(scaled(x), scaled(y)));
    }

    RecordingListener events;
};

TEST_F(MainWindow, OpensCentredOnItsParentAndItsMenusReachTheOwnerAndTheDesktop) {
    Desktop desktop({"https"});
    QWidget parent;
    parent.setGeometry(100, 80, 1000, 800);
    window = Window::showMainWindow(&parent, core.get(), this);
    EXPECT_EQ(window->geometry(), QRect(280, 240, 640, 480));
    EXPECT_EQ(window->windowTitle(), "KVPortal");
    EXPECT_EQ(Window::showMainWindow(nullptr, core.get(), this), window);
    QStringList items;
    for (QAction* menu : window->menuBar()->actions()) {
        items << menu->text();
        for (QAction* item : menu->menu()->actions()) {
            items << (item->isSeparator() ? "-" : item->text());
        }
    }
    EXPECT_EQ(items.join("|"), "&File|&Refresh|Resync With &Server|&Open Downloads Directory|-|"
                               "&Quit|&Help|&Documentation|Update &History");

    trigger("actionRefresh");
    EXPECT_EQ(refreshes, 1);
    trigger("actionDocumentation");
    trigger("actionOpenDownloads");
    EXPECT_TRUE(waitFor([&] { return desktop.opened.size() == 2; }));
    EXPECT_EQ(desktop.opened.join('|').toStdString(),
              "https://www.kelmora.example/support/kvportal/documentation|ShowFolders file://" +
                  environment.downloadsDir());
    writeFile(environment.downloadsDir() + "/history.jsonl",
              "{\"time\":\"2026-12-07T22:35:00Z\",\"product\":\"Korvex\"}\n"
              "{\"time\":\"2026-12-07T22:36:00Z\",\"product\":\"Rx48\"}\n");
    trigger("actionHistory");
    const auto* history = window->findChild<QTreeWidget*>("historyList");
    ASSERT_EQ(history->topLevelItemCount(), 2);
    EXPECT_EQ(history->topLevelItem(0)->text(1), "Rx48") << "newest first";
    EXPECT_EQ(history->topLevelItem(1)->text(0), "2026-12-07T22:35:00Z");
    trigger("actionQuit");
    EXPECT_FALSE(window->isVisible());
}

TEST_F(MainWindow, ClosingIsRefusedWhileAFirmwareUpdateRuns) {
    DeviceSimulator::Options options;
    options.behaviour = R"({"phase_ms": 1500})";
    options.imageFile = releases.file("received.bin");
    DeviceSimulator device(options);
    showWindow();
    const ProductPtr korvex = addProduct(code::KORVEX_FIRMWARE, "Korvex", device.address());
    giveRelease(korvex, "2.0.0b7");
    DeviceSimulator::makeImage(core->downloadPath(korvex, true), "2.0.0b7", 64 * 1024);
    core->setStatus(korvex, Evaluate);
    clickLink(link(row("Korvex"), "actionLink"));
    ASSERT_TRUE(waitFor([&] { return core->firmwareUpdateActive(); }));
    window->close();
    trigger("actionQuit");
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(questions.join('|'),
              QString("Kelmora Portal: Cannot exit.\nFirmware update in process|")
                  .repeated(2)
                  .chopped(1));
    EXPECT_TRUE(waitFor([&] { return korvex->status == UpToDate; })) << "back from its reboot";
    window->close();
    EXPECT_FALSE(window->isVisible());
}

// The message panel is light in both schemes: its text stays black whichever scheme the window
// opened in and however the scheme switched since.
TEST_F(MainWindow, RowsAndGroupsTurnDarkWhileTheMessageStaysLight) {
    for (const char* start : {"light", "dark"}) {
        switchTo(start);
        showWindow();
        for (const char* scheme : {start, "dark", "light", "dark"}) {
            switchTo(scheme);
            EXPECT_EQ(label("messageText")->palette().color(QPalette::WindowText),
                      QColor(Qt::black))
                << start << " then " << scheme;
        }
        delete window;
    }
    showWindow();
    giveRelease(addProduct(code::PELRA_FIRMWARE, "Pelra"), "2.0.0b1");
    setStatus(core->findProduct("Pelra"), ReadyToDownload);
    ASSERT_TRUE(laidOut(row("Pelra")));
    const auto colours = [&] {
        QStringList seen{pixel(row("Pelra"), scaled(3), scaled(100)).name()};
        for (const char* name : {"group3", "message", "summary"}) {
            seen << pixel(child(name), scaled(3), child(name)->height() / 2).name();
        }
        return seen.join(' ');
    };
    EXPECT_EQ(colours(), "#2b2b2b #1c1c1c #ffe3bf #2d2d2d");
    switchTo("light");
    EXPECT_EQ(colours(), "#ffffff #e6e6e6 #ffe3bf #e6e6e6");
}

// An error message outlives a hide that an earlier success left pending.
TEST_F(MainWindow, TheMessagePanelFollowsTheSyncs) {
    for (const char* locked : {"1", "0"}) {
        proxy->set("disable_this", locked);
        showWindow();
        EXPECT_EQ(message(),
                  *locked == '1'
                      ? "Software/Firmware update has been disabled by your administrator"
                      : "No compatible software/hardware has been detected");
        EXPECT_EQ(href(label("messageLink")), "Hide");
        EXPECT_EQ(child("message")->height(), scaled(28));
        clickLink(label("messageLink"));
        EXPECT_FALSE(child("message")->isVisible());
        if (*locked == '1') {
            delete window;
        }
    }
    sync([&] { addProduct(code::VORNET, "VORNET"); });
    EXPECT_EQ(message(), "Failed to contact Kelmora Technologies Server.");
    EXPECT_EQ(href(label("messageLink")), "ReSync");
    EXPECT_EQ(child("message")->height(), scaled(28));

    publish({"VORNET 5.0.0b1"});
    sync([&] {
        clickLink(label("messageLink"));
        EXPECT_EQ(message(), "Retrying...");
        EXPECT_TRUE(label("messageLink")->text().isEmpty());
    });
    tick();
    EXPECT_EQ(message(), "Querying Kelmora Technologies server. Please wait...");
    EXPECT_EQ(href(label("messageLink")), "Hide");
    EXPECT_TRUE(child("message")->isVisible());
    tick();
    EXPECT_FALSE(child("message")->isVisible());

    sync([&] { trigger("actionResync"); });
    tick();
    std::filesystem::remove(releases.file("dozoPublishConf.json"));
    sync([&] { trigger("actionResync"); });
    const QString since = QLocale::system().toString(
        QFileInfo(QString::fromStdString(environment.downloadsDir() + "/dozoPublishConf.json"))
            .lastModified(),
        QLocale::ShortFormat);
    const QString failed = "Failed to contact Kelmora Technologies Server.\nThe information below "
                           "is from the last time you have been in sync (" +
                           since + ").";
    EXPECT_TRUE(waitFor([&] { return message() == failed; })) << message().toStdString();
    EXPECT_EQ(href(label("messageLink")), "ReSync");
    EXPECT_TRUE(waitFor([&] { return child("message")->height() == scaled(42); }));
    tick();
    tick();
    EXPECT_TRUE(child("message")->isVisible() && message() == failed);
}

TEST_F(MainWindow, TheSummaryCountsFirmwareAndSoftwareAndUpdatesThemAll) {
    publish({"KORVEX-FIRMWARE 2.0.0b1", "RX48-FIRMWARE 2.0.0b1", "PELRA-FIRMWARE 2.0.0b1",
             "VORNET 5.0.0b1", "KVDISCOVERY 0.0.0b0", "KVPORTAL 9.0.0b1"});
    showWindow();
    EXPECT_FALSE(child("summary")->isVisible());
    std::vector<ProductPtr> all;
    for (const ProductCode kind : {code::KORVEX_FIRMWARE, code::RX48_FIRMWARE, code::PELRA_FIRMWARE,
                                   code::VORNET, code::KVDISCOVERY, code::KVPORTAL}) {
        all.push_back(addProduct(kind, kind));
    }
    ASSERT_TRUE(waitFor([&] { return all[4]->status == UpToDate; }));
    EXPECT_TRUE(waitFor([&] {
        return child("summary")->isVisible() &&
               label("summaryText")->text() ==
                   "Firmware(3) / Software(2): Total 5 products require update";
    })) << label("summaryText")->text().toStdString();
    EXPECT_EQ(child("summary")->height(), scaled(28));
    clickLink(label("summaryLink"));
    EXPECT_FALSE(child("summary")->isVisible());
    for (int i = 0; i < 4; ++i) {
        EXPECT_TRUE(all[i]->updateAfterDownload) << all[i]->name;
        EXPECT_TRUE(waitFor([&] { return all[i]->status == DownloadError; })) << all[i]->name;
    }
    EXPECT_EQ(all[4]->status, static_cast<uint32_t>(UpToDate));
    EXPECT_FALSE(all[5]->updateAfterDownload) << "a newer package replaces this program";
    EXPECT_EQ(all[5]->status, static_cast<uint32_t>(ReadyToDownload));
}

TEST_F(MainWindow, NoRestartIsOfferedWhenNothingWasPendingAtTheFirstSync) {
    publish({"KVPORTAL 0.0.0b0"});
    showWindow();
    const ProductPtr portal = addProduct(code::KVPORTAL, "KVPortal");
    ASSERT_TRUE(waitFor([&] { return window->central()->portalUpdateState() == 1; }));
    setStatus(portal, UpToDate);
    EXPECT_EQ(row("KVPortal")->statusText(), "KVPortal is up to date");
    EXPECT_FALSE(link(row("KVPortal"), "actionLink")->isVisible());
}

// What the installer leaves behind: the program knows its new version only after a restart,
// which it leaves to the launcher, though not while a download runs.
TEST_F(MainWindow, AfterUpdatingItselfThisProgramRestartsThroughTheLauncher) {
    publish({"KVPORTAL 2.0.0b5", "VORNET 5.0.0b1"});
    writeFile(releases.file("VORNET.bin"), "installer");
    showWindow();
    const ProductPtr portal = addProduct(code::KVPORTAL, "KVPortal");
    const ProductPtr vornet = addProduct(code::VORNET, "VORNET");
    ASSERT_TRUE(waitFor([&] { return window->central()->portalUpdateState() == 0; }));
    ASSERT_TRUE(waitFor([&] { return vornet->status == ReadyToDownload; }));
    auto held = std::make_shared<Product::Cloud>(*vornet->cloud.get());
    held->link = server.url("/VORNET.bin?gate=restart");
    vornet->cloud.set(held);
    core->requestDownload("VORNET");
    ASSERT_EQ(kvcurl::get(server.url("/control/wait/restart"), 30000)->code, 200);

    Version installed;
    installed.parseVersion("2.0.0b5");
    portal->version.set(installed);
    core->setStatus(portal, Evaluate);
    EXPECT_EQ(row("KVPortal")->statusText(), "KVPortal is up to date. App restart is required");
    QLabel* restart = link(row("KVPortal"), "actionLink");
    EXPECT_EQ(href(restart), "RestartApp");
    clickLink(restart);
    EXPECT_EQ(questions, QStringList("Kelmora Portal: Cannot restart while downloading"));
    EXPECT_TRUE(proxy->starts.empty());

    kvcurl::get(server.url("/control/open/restart"), 30000);
    EXPECT_TRUE(core->waitUntilIdle(std::chrono::seconds(20)));
    // The application's own loop, which leaves no quit behind for later tests' loops.
    QTimer::singleShot(0, [&] { clickLink(restart); });
    QTimer::singleShot(20000, [] { QCoreApplication::exit(1); });
    EXPECT_EQ(QCoreApplication::exec(), 0) << "the program ends for the launcher to start it";
    const QFileInfo program(QCoreApplication::applicationFilePath());
    EXPECT_EQ(QString::fromStdString(proxy->starts.at(0)),
              program.absolutePath() + "/app_launcher --name " + program.fileName() + " --path " +
                  program.absoluteFilePath() + " --flags 1");
}

// A kind is the identity of its code constant, not its text.
TEST_F(MainWindow, EachFamilyShowsUnderItsTitleAndThisProgramInTheListItself) {
    static const char lookalike[] = "KORVEX-FIRMWARE";
    addProduct(lookalike, "stranger");
    addProduct(code::PELRA_FIRMWARE, "Pelra");
    showWindow();
    for (const ProductCode kind :
         {code::KORVEX_FIRMWARE, code::KORVEX_FIRMWARE_DANTE, code::RX48_FIRMWARE,
          code::RX48_FIRMWARE_DANTE, code::VESK_FIRMWARE, code::VORAVERI_FIRMWARE,
          code::VORAVERI_FIRMWARE_DANTE, code::VESK_III_FIRMWARE, code::VESK_III_FIRMWARE_DANTE,
          code::KVDISCOVERY, code::VORNET, code::KVPORTAL}) {
        addProduct(kind, kind);
    }
    QStringList shown;
    for (Window::Group* g : window->central()->groups()) {
        QStringList names;
        for (Window::ProductBase* r : g->rows()) {
            names << QString::fromStdString(r->currentProduct()->name);
        }
        names.sort();
        shown << (g->isVisible() ? g->title()->text() : "hidden") + ": " + names.join(", ");
    }
    EXPECT_EQ(shown.join('\n'),
              "KELMORA+KORVEX: KORVEX-FIRMWARE, KORVEX-FIRMWARE-DANTE, Korvex Remote Controllers\n"
              "RX48: RX48 Toolkit, RX48-FIRMWARE, RX48-FIRMWARE-DANTE\n"
              "KELMORA+VESK: VESK-FIRMWARE, VESK-III-FIRMWARE, VESK-III-FIRMWARE-DANTE, "
              "VORAVERI-FIRMWARE, VORAVERI-FIRMWARE-DANTE\n"
              "KELMORA+PELRA: Pelra\n"
              "KELMORA NETWORKING TOOLS: KVDISCOVERY, VORNET");
    EXPECT_EQ(row("KVPORTAL")->parentWidget(), child("productList"));
    EXPECT_EQ(row("stranger"), nullptr);
    removeProduct("Pelra");
    EXPECT_TRUE(group(3)->isVisible()) << "a group once shown stays";
}

// One row with a tab per mode, open on the mode the device runs; only a left press in the
// header's tabs switches.
TEST_F(MainWindow, ADanteCapableDeviceHasATabPerModeOpenOnTheModeItRuns) {
    DeviceSimulator::Options options;
    options.danteCapable = true;
    DeviceSimulator ravenna(options);
    options.serial = "KV-D";
    options.danteRunning = true;
    DeviceSimulator dante(options);
    showWindow();
    const std::tuple<const char*, DeviceSimulator*, int> devices[] = {{"Desk", &ravenna, 0},
                                                                      {"Stage", &dante, 1}};
    for (const auto& [name, device, open] : devices) {
        addProduct(code::RX48_FIRMWARE, name, device->address());
        Window::Tabs* tabs = tabsOf(name);
        ASSERT_NE(tabs, nullptr) << name;
        EXPECT_EQ(QStringList({tabs->tabTitle(0), tabs->tabTitle(1), tabs->tabTitle(2)}),
                  QStringList({"RAVENNA AES67", "Dante", ""}));
        EXPECT_EQ(tabs->product(1)->name, "dante_" + tabs->product(0)->name);
        EXPECT_EQ(tabs->currentTab(), open) << name;
        EXPECT_TRUE(tabs->row(open)->isVisible() && !tabs->row(1 - open)->isVisible()) << name;
        EXPECT_TRUE(QTest::qWaitFor([&] { return tabs->height() == scaled(24) + scaled(110); }));
    }
    EXPECT_EQ(group(1)->rows().size(), 3u) << "two devices and their companion";

    Window::Tabs* tabs = tabsOf("Desk");
    clickAt(tabs, 150, 30);
    clickAt(tabs, 250, 10);
    clickAt(tabs, 150, 10, Qt::RightButton);
    EXPECT_EQ(tabs->currentTab(), 0) << "below the header, right of the tabs, right button";
    clickAt(tabs, 150, 10);
    EXPECT_TRUE(tabs->row(1)->isVisible() && !tabs->row(0)->isVisible());
    EXPECT_EQ(tabs->currentProduct()->name, "dante_Desk");
    EXPECT_EQ(tabs->currentRow()->geometry(), QRect(0, scaled(24), tabs->width(), scaled(110)));
    clickAt(tabs, 99, 24);
    EXPECT_EQ(tabs->currentTab(), 0);
}

// A device that returns comes back in its old row; folded, it stays folded with its group.
TEST_F(MainWindow, AFoldedGroupHidesItsRowsWhateverComesAndGoes) {
    showWindow();
    addProduct(code::VORNET, "VORNET");
    addProduct(code::KVDISCOVERY, "KVDiscovery");
    Window::Product* vornet = row("VORNET");
    Window::Product* discovery = row("KVDiscovery");
    Window::Group::Title* title = group(4)->title();
    removeProduct("KVDiscovery");
    clickAt(title, 30, 5, Qt::RightButton);
    EXPECT_TRUE(title->isExpanded() && vornet->isVisible() && !discovery->isVisible());
    clickAt(title, 30, 5);
    EXPECT_FALSE(title->isExpanded() || vornet->isVisible());

    const ProductPtr returned = addProduct(code::KVDISCOVERY, "KVDiscovery");
    addProduct(code::KVDISCOVERY, "KVDiscovery 2");
    removeProduct("VORNET");
    EXPECT_EQ(row("KVDiscovery"), discovery);
    EXPECT_FALSE(discovery->isVisible() || row("KVDiscovery 2")->isVisible());
    clickAt(title, 30, 5);
    EXPECT_TRUE(discovery->isVisible() && row("KVDiscovery 2")->isVisible());
    EXPECT_EQ(discovery->currentProduct(), returned);
    EXPECT_FALSE(vornet->isVisible()) << "went away while folded";
    addProduct(code::VORNET, "VORNET");
    EXPECT_TRUE(vornet->isVisible());
    EXPECT_EQ(group(4)->rows().size(), 3u);
}

} // namespace
} // namespace kv::test
