#include "DeviceSimulator.h"
#include "ReleaseServer.h"
#include "TempDir.h"
#include "WindowFixture.h"
#include "kvcurl/kvcurl.h"
#include "ui/theme/QKVTheme.h"
#include "ui/window/Central.h"

#include <QAction>
#include <QFileInfo>
#include <QLocale>
#include <QMenuBar>
#include <QTreeWidget>

#include <filesystem>

using namespace kv::portal;

namespace {

class MainWindow : public kv::test::WindowTest {
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
    // Catalogue entries whose packages cannot be fetched, on the release server.
    void publish(const std::vector<std::pair<std::string, const char*>>& entries) {
        std::string text;
        for (const auto& [id, version] : entries) {
            text += std::string(text.empty() ? "" : ",") + "{\"ID\":\"" + id + "\",\"IV\":\"" +
                    version + "\",\"IF\":\"" + id + ".bin\",\"LK\":\"" + kv::test::kRefused + "/" +
                    id + ".bin\"}";
        }
        kv::test::writeFile(releases.file("dozoPublishConf.json"), "{\"products\":[" + text + "]}");
        proxy->set("publish_file", server.url("/dozoPublishConf.json"));
    }
    int syncs() const { return static_cast<int>(events.startingWith("syncFinished").size()); }
    bool waitFor(const std::function<bool()>& condition) {
        return QTest::qWaitFor(condition, 20000);
    }
    void resync() {
        const int before = syncs();
        trigger("actionResync");
        ASSERT_TRUE(waitFor([&] { return syncs() > before; }));
        QCoreApplication::processEvents();
    }
    QString message() const { return label("messageText")->text(); }

    kv::test::RecordingListener events;
    kv::test::TempDir releases;
    kv::test::ReleaseServer server{releases.path()};
};

TEST_F(MainWindow, OpensCentredOnItsParentAndItsMenusReachTheOwnerAndTheDesktop) {
    kv::test::FakeFileManager files;
    kv::test::UrlRecorder browser("https");
    QWidget parent;
    parent.setGeometry(100, 80, 1000, 800);
    window = Window::showMainWindow(&parent, core.get(), &callbacks);
    EXPECT_EQ(window->geometry().center(), parent.geometry().center());
    EXPECT_EQ(window->size(), QSize(640, 480));
    EXPECT_EQ(window->windowTitle(), "KVPortal");
    EXPECT_EQ(Window::showMainWindow(nullptr, core.get(), &callbacks), window);
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
    EXPECT_EQ(callbacks.refreshes, 1);
    trigger("actionOpenDownloads");
    EXPECT_TRUE(waitFor([&] { return !files.calls.empty(); }));
    EXPECT_EQ(files.calls, QStringList("ShowFolders file://" +
                                       QString::fromStdString(environment.downloadsDir())));
    trigger("actionDocumentation");
    EXPECT_EQ(browser.urls, std::vector<QUrl>{QUrl(
                                "https://www.kelmora.example/support/kvportal/documentation")});
    kv::test::writeFile(environment.downloadsDir() + "/history.jsonl",
                        "{\"time\":\"2026-12-07T22:35:00Z\",\"product\":\"Korvex\"}\n"
                        "{\"time\":\"2026-12-07T22:36:00Z\",\"product\":\"Rx48\"}\n");
    trigger("actionHistory");
    const auto* history = window->findChild<QTreeWidget*>("historyList");
    ASSERT_EQ(history->topLevelItemCount(), 2);
    EXPECT_EQ(history->topLevelItem(0)->text(1), "Rx48") << "newest first";
    EXPECT_EQ(history->topLevelItem(1)->text(0), "2026-12-07T22:35:00Z");
    trigger("actionQuit");
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(questions.empty());
}

TEST_F(MainWindow, ClosingIsRefusedWhileAFirmwareUpdateRuns) {
    kv::test::DeviceSimulator::Options options;
    options.behaviour = R"({"phase_ms": 1500})";
    options.imageFile = releases.file("received.bin");
    kv::test::DeviceSimulator device(options);
    showWindow();
    const ProductPtr korvex = addProduct(code::KORVEX_FIRMWARE, "Korvex", device.address());
    giveRelease(korvex, "2.0.0b7");
    kv::test::DeviceSimulator::makeImage(core->downloadPath(korvex, true), "2.0.0b7", 64 * 1024);
    core->setStatus(korvex, Evaluate);
    clickLink(link(row("Korvex"), "actionLink"));
    ASSERT_TRUE(waitFor([&] { return core->firmwareUpdateActive(); }));
    window->close();
    trigger("actionQuit");
    EXPECT_TRUE(window->isVisible());
    const QString refused = "Kelmora Portal: Cannot exit.\nFirmware update in process";
    EXPECT_EQ(questions, QStringList({refused, refused}));
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
        dropWindow();
    }
    showWindow();
    addProduct(code::PELRA_FIRMWARE, "Pelra");
    addProduct(code::VORNET, "VORNET");
    giveRelease(addProduct(code::KVDISCOVERY, "KVDiscovery", {}, "0.0.0b0"), "1.0.0b1");
    setStatus(core->findProduct("KVDiscovery"), ReadyToDownload);
    ASSERT_TRUE(laidOut(row("Pelra")));
    const auto colours = [&] {
        std::vector<QColor> seen{pixel(row("Pelra"), scaled(3), scaled(100))};
        for (const char* name : {"group3", "message", "summary"}) {
            seen.push_back(pixel(child(name), scaled(3), child(name)->height() / 2));
        }
        return seen;
    };
    const std::vector<QColor> dark{{43, 43, 43}, {28, 28, 28}, {255, 227, 191}, {45, 45, 45}};
    EXPECT_EQ(colours(), dark);
    switchTo("light");
    const std::vector<QColor> light{
        {255, 255, 255}, {230, 230, 230}, {255, 227, 191}, {230, 230, 230}};
    EXPECT_EQ(colours(), light);
}

// An error message outlives a hide that an earlier success left pending.
TEST_F(MainWindow, TheMessagePanelFollowsTheSyncs) {
    for (const char* locked : {"1", "0"}) {
        proxy->set("disable_this", locked);
        showWindow();
        EXPECT_EQ(message(),
                  locked[0] == '1'
                      ? "Software/Firmware update has been disabled by your administrator"
                      : "No compatible software/hardware has been detected");
        EXPECT_EQ(href(label("messageLink")), "Hide");
        EXPECT_EQ(child("message")->height(), scaled(28));
        clickLink(label("messageLink"));
        EXPECT_FALSE(child("message")->isVisible());
        if (locked[0] == '1') {
            dropWindow();
        }
    }
    holdTicks();
    addProduct(code::VORNET, "VORNET");
    EXPECT_TRUE(
        waitFor([&] { return message() == "Failed to contact Kelmora Technologies Server."; }));
    EXPECT_EQ(href(label("messageLink")), "ReSync");
    EXPECT_EQ(child("message")->height(), scaled(28));

    publish({{"VORNET", "5.0.0b1"}});
    const int before = syncs();
    clickLink(label("messageLink"));
    EXPECT_EQ(message(), "Retrying...");
    EXPECT_TRUE(label("messageLink")->text().isEmpty());
    ASSERT_TRUE(waitFor([&] { return syncs() > before; }));
    QCoreApplication::processEvents();
    tick();
    EXPECT_TRUE(child("message")->isVisible());
    EXPECT_EQ(message(), "Querying Kelmora Technologies server. Please wait...");
    EXPECT_EQ(href(label("messageLink")), "Hide");
    tick();
    EXPECT_FALSE(child("message")->isVisible());

    resync();
    tick();
    std::filesystem::remove(releases.file("dozoPublishConf.json"));
    resync();
    const QString failed =
        "Failed to contact Kelmora Technologies Server.\nThe information below is from the last "
        "time you have been in sync (" +
        QLocale::system().toString(
            QFileInfo(QString::fromStdString(environment.downloadsDir() + "/dozoPublishConf.json"))
                .lastModified(),
            QLocale::ShortFormat) +
        ").";
    EXPECT_TRUE(waitFor([&] { return message() == failed; })) << message().toStdString();
    EXPECT_EQ(href(label("messageLink")), "ReSync");
    EXPECT_TRUE(waitFor([&] { return child("message")->height() == scaled(42); }));
    tick();
    tick();
    EXPECT_TRUE(child("message")->isVisible());
    EXPECT_EQ(message(), failed);
}

TEST_F(MainWindow, TheSummaryCountsFirmwareAndSoftwareAndUpdatesThemAll) {
    publish({{"KORVEX-FIRMWARE", "2.0.0b1"},
             {"RX48-FIRMWARE", "2.0.0b1"},
             {"PELRA-FIRMWARE", "2.0.0b1"},
             {"VORNET", "5.0.0b1"},
             {"KVDISCOVERY", "0.0.0b0"},
             {"KVPORTAL", "9.0.0b1"}});
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
    EXPECT_TRUE(core->waitUntilIdle(std::chrono::seconds(20)));
}

TEST_F(MainWindow, NoRestartIsOfferedWhenNothingWasPendingAtTheFirstSync) {
    publish({{"KVPORTAL", "0.0.0b0"}});
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
    publish({{"KVPORTAL", "2.0.0b5"}, {"VORNET", "5.0.0b1"}});
    kv::test::writeFile(releases.file("VORNET.bin"), "installer");
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
    EXPECT_EQ(proxy->starts,
              std::vector<std::string>{(program.absolutePath() + "/app_launcher --name " +
                                        program.fileName() + " --path " +
                                        program.absoluteFilePath() + " --flags 1")
                                           .toStdString()});
    EXPECT_EQ(questions.size(), 1);
}

} // namespace
