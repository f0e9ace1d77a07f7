#include "ReleaseServer.h"
#include "TempDir.h"
#include "WindowFixture.h"
#include "kvcurl/kvcurl.h"
#include "ui/UiScale.h"
#include "ui/window/All.h"
#include "ui/window/Central.h"
#include "ui/window/Message.h"
#include "ui/window/ProductRow.h"

#include <QAction>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QLabel>
#include <QLocale>
#include <QTest>
#include <QTimer>
#include <QTimerEvent>

#include <atomic>
#include <filesystem>
#include <string>

using namespace kv::portal;

namespace {

constexpr int kDeadlineMs = 20000;

// Counts the ends of syncs, on whatever thread they end.
class SyncCounter : public Core::Listener {
public:
    void syncFinished(Core*, const std::string&) override { ++finished; }
    std::atomic<int> finished{0};
};

class WindowSync : public kv::test::WindowTest {
protected:
    WindowSync() {
        proxy->set("publish_file", server.url("/dozoPublishConf.json"));
        core->addListener(&syncs);
    }
    ~WindowSync() override { core->removeListener(&syncs); }

    // A catalogue entry whose package cannot be fetched.
    std::string entry(const char* id, const char* version) const {
        return std::string("{\"ID\":\"") + id + "\",\"IV\":\"" + version + "\",\"IF\":\"" + id +
               ".bin\",\"LK\":\"" + refused.url(std::string("/") + id + ".bin") + "\"}";
    }

    void publish(const std::string& entries) {
        kv::test::writeFile(releases.file("dozoPublishConf.json"),
                            "{\"products\":[" + entries + "]}");
    }

    // Requests a sync as a new product would, and waits for its end.
    void syncAndWait() {
        const int before = syncs.finished;
        core->startSync();
        ASSERT_TRUE(QTest::qWaitFor([&] { return syncs.finished > before; }, kDeadlineMs));
        // The window hears of the end through queued signals.
        QCoreApplication::processEvents();
    }

    bool syncsSettled() {
        return QTest::qWaitFor(
            [&] {
                QCoreApplication::processEvents();
                return syncs.finished > 0 && !core->isDownloading();
            },
            kDeadlineMs);
    }

    QLabel* messageText() const {
        return window->findChild<QLabel*>(QStringLiteral("messageText"));
    }
    QLabel* messageLink() const {
        return window->findChild<QLabel*>(QStringLiteral("messageLink"));
    }
    QWidget* messagePanel() const { return child("message"); }

    // Ticks come only from tick() from now on.
    void holdTicks() {
        ticks_ = window->findChild<QTimer*>(QStringLiteral("tick"));
        ASSERT_NE(ticks_, nullptr);
        ticks_->start(24 * 3600 * 1000);
    }
    void tick() {
        QTimerEvent event(ticks_->timerId());
        QCoreApplication::sendEvent(ticks_, &event);
        QCoreApplication::processEvents();
    }
    QWidget* summary() const { return child("summary"); }
    QLabel* summaryText() const {
        return window->findChild<QLabel*>(QStringLiteral("summaryText"));
    }

    kv::test::TempDir releases;
    kv::test::ReleaseServer server{releases.path()};
    SyncCounter syncs;

private:
    QTimer* ticks_ = nullptr;
};

TEST_F(WindowSync, TheListStartsWithTheDetectionMessageOrTheAdministratorsLockWhichHideHides) {
    for (const bool locked : {false, true}) {
        proxy->set("disable_this", locked ? "1" : "0");
        showWindow();
        EXPECT_TRUE(messagePanel()->isVisible());
        EXPECT_EQ(messageText()->text(),
                  locked ? QStringLiteral(
                               "Software/Firmware update has been disabled by your administrator")
                         : QStringLiteral("No compatible software/hardware has been detected"));
        EXPECT_EQ(href(messageLink()), QStringLiteral("Hide"));
        EXPECT_EQ(messagePanel()->height(), scaled(28));
        clickLink(messageLink());
        EXPECT_FALSE(messagePanel()->isVisible());
        delete window;
        window = nullptr;
    }
}

TEST_F(WindowSync, ASuccessfulSyncHidesItsMessageAtTheSecondTick) {
    publish(entry("VORNET", "5.0.0b1"));
    showWindow();
    holdTicks();
    addProduct(code::VORNET, "VORNET");
    ASSERT_TRUE(QTest::qWaitFor([&] { return syncs.finished > 0; }, kDeadlineMs));
    QCoreApplication::processEvents();
    tick();
    EXPECT_TRUE(messagePanel()->isVisible());
    EXPECT_EQ(messageText()->text(),
              QStringLiteral("Querying Kelmora Technologies server. Please wait..."));
    EXPECT_EQ(href(messageLink()), QStringLiteral("Hide"));
    tick();
    EXPECT_FALSE(messagePanel()->isVisible());
}

TEST_F(WindowSync, AFailedSyncWithoutCopyShowsOneLineAndRetry) {
    proxy->set("publish_file", refused.url("/dozoPublishConf.json"));
    showWindow();
    addProduct(code::VORNET, "VORNET");
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return messageText()->text() ==
                   QStringLiteral("Failed to contact Kelmora Technologies Server.");
        },
        kDeadlineMs));
    EXPECT_EQ(href(messageLink()), QStringLiteral("ReSync"));
    EXPECT_EQ(messagePanel()->height(), scaled(28));
}

TEST_F(WindowSync, AFailedSyncOnTheLastCatalogueSaysSinceWhenAndRetries) {
    publish(entry("VORNET", "5.0.0b1"));
    showWindow();
    holdTicks();
    addProduct(code::VORNET, "VORNET");
    ASSERT_TRUE(QTest::qWaitFor([&] { return syncs.finished > 0; }, kDeadlineMs));
    // The success leaves a hide pending; the failure that follows must outlive it.
    tick();
    std::filesystem::remove(releases.file("dozoPublishConf.json"));

    window->findChild<QAction*>(QStringLiteral("actionResync"))->trigger();
    const QString since = QLocale::system().toString(
        QFileInfo(QString::fromStdString(environment.downloadsDir() + "/dozoPublishConf.json"))
            .lastModified(),
        QLocale::ShortFormat);
    const QString expected =
        QStringLiteral("Failed to contact Kelmora Technologies Server.\nThe information below is "
                       "from the last time you have been in sync (") +
        since + QStringLiteral(").");
    ASSERT_TRUE(QTest::qWaitFor([&] { return messageText()->text() == expected; }, kDeadlineMs))
        << messageText()->text().toStdString();
    EXPECT_EQ(href(messageLink()), QStringLiteral("ReSync"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return messagePanel()->height() == scaled(42); }));
    EXPECT_TRUE(core->usingLocalFile());
    tick();
    tick();
    EXPECT_TRUE(messagePanel()->isVisible());
    EXPECT_EQ(messageText()->text(), expected);

    const int before = syncs.finished;
    ASSERT_TRUE(QTest::qWaitFor([&] { return messageLink()->width() > 0; }));
    clickLink(messageLink());
    EXPECT_EQ(messageText()->text(), QStringLiteral("Retrying..."));
    EXPECT_TRUE(messageLink()->text().isEmpty());
    EXPECT_TRUE(QTest::qWaitFor([&] { return syncs.finished > before; }, kDeadlineMs));
    EXPECT_TRUE(QTest::qWaitFor([&] { return messageText()->text() == expected; }, kDeadlineMs));
}

TEST_F(WindowSync, TheSummaryCountsFirmwareAndSoftwareAndUpdatesThemAll) {
    publish(entry("KORVEX-FIRMWARE", "2.0.0b1") + "," + entry("RX48-FIRMWARE", "2.0.0b1") + "," +
            entry("PELRA-FIRMWARE", "2.0.0b1") + "," + entry("VORNET", "5.0.0b1") + "," +
            entry("KVDISCOVERY", "0.0.0b0") + "," + entry("KVPORTAL", "9.0.0b1"));
    showWindow();
    EXPECT_FALSE(summary()->isVisible());
    const ProductPtr portal = addProduct(code::KVPORTAL, "KVPortal");
    const ProductPtr korvex = addProduct(code::KORVEX_FIRMWARE, "Korvex");
    const ProductPtr rx48 = addProduct(code::RX48_FIRMWARE, "RX 48");
    const ProductPtr pelra = addProduct(code::PELRA_FIRMWARE, "Pelra");
    const ProductPtr vornet = addProduct(code::VORNET, "VORNET");
    const ProductPtr discovery = addProduct(code::KVDISCOVERY, "KVDiscovery");
    ASSERT_TRUE(QTest::qWaitFor([&] { return discovery->status == UpToDate; }, kDeadlineMs));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return summary()->isVisible() &&
                   summaryText()->text() ==
                       QStringLiteral("Firmware(3) / Software(2): Total 5 products require update");
        },
        kDeadlineMs))
        << summaryText()->text().toStdString();
    EXPECT_EQ(summary()->height(), scaled(28));

    QLabel* updateAll = window->findChild<QLabel*>(QStringLiteral("summaryLink"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return updateAll->width() > 0; }));
    clickLink(updateAll);
    EXPECT_FALSE(summary()->isVisible());
    for (const ProductPtr& product : {korvex, rx48, pelra, vornet}) {
        EXPECT_TRUE(product->updateAfterDownload) << product->name;
        EXPECT_TRUE(QTest::qWaitFor([&] { return product->status == DownloadError; }, kDeadlineMs))
            << product->name;
    }
    EXPECT_EQ(discovery->status, static_cast<uint32_t>(UpToDate));
    EXPECT_FALSE(portal->updateAfterDownload) << "a newer package replaces this program";
    EXPECT_EQ(portal->status, static_cast<uint32_t>(ReadyToDownload));
    EXPECT_TRUE(syncsSettled());
}

TEST_F(WindowSync, AfterUpdatingItselfThisProgramOffersARestartThroughTheLauncher) {
    publish(entry("KVPORTAL", "2.0.0b5"));
    showWindow();
    const ProductPtr portal = addProduct(code::KVPORTAL, "KVPortal");
    ASSERT_TRUE(QTest::qWaitFor([&] { return portal->status == ReadyToDownload; }, kDeadlineMs));
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->central()->portalUpdateState() == 0; }));

    // What the installer leaves behind: the program knows its new version only after a restart.
    Version installed;
    installed.parseVersion("2.0.0b5");
    portal->version.set(installed);
    core->setStatus(portal, Evaluate);
    Window::Product* portalRow = row("KVPortal");
    EXPECT_EQ(portalRow->statusText(),
              QStringLiteral("KVPortal is up to date. App restart is required"));
    QLabel* restart = link(portalRow, "actionLink");
    ASSERT_TRUE(restart->isVisible());
    EXPECT_EQ(href(restart), QStringLiteral("RestartApp"));

    ASSERT_TRUE(QTest::qWaitFor([&] { return restart->width() > 0; }));
    QEventLoop running;
    QTimer::singleShot(0, &running, [&] { clickLink(restart); });
    QTimer::singleShot(kDeadlineMs, &running, [&] { running.exit(1); });
    EXPECT_EQ(running.exec(), 0) << "the program ends for the launcher to start it again";
    EXPECT_TRUE(questions.empty());
    const auto starts = proxy->starts();
    ASSERT_EQ(starts.size(), 1u);
    const QFileInfo program(QCoreApplication::applicationFilePath());
    EXPECT_EQ(starts[0].program, (program.absolutePath() + "/app_launcher").toStdString());
    EXPECT_EQ(starts[0].arguments,
              (std::vector<std::string>{"--name", program.fileName().toStdString(), "--path",
                                        program.absoluteFilePath().toStdString(), "--flags", "1"}));
    EXPECT_FALSE(starts[0].wait);
}

TEST_F(WindowSync, NoRestartIsOfferedWhenNothingWasPendingAtTheFirstSync) {
    publish(entry("KVPORTAL", "0.0.0b0"));
    showWindow();
    const ProductPtr portal = addProduct(code::KVPORTAL, "KVPortal");
    ASSERT_TRUE(QTest::qWaitFor([&] { return portal->status == UpToDate; }, kDeadlineMs));
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->central()->portalUpdateState() == 1; }));
    core->setStatus(portal, NoCloudInformation);
    core->setStatus(portal, UpToDate);
    EXPECT_EQ(row("KVPortal")->statusText(), QStringLiteral("KVPortal is up to date"));
    EXPECT_FALSE(link(row("KVPortal"), "actionLink")->isVisible());
}

TEST_F(WindowSync, NoRestartWhileADownloadRunsOrIsQueued) {
    publish(entry("KVPORTAL", "2.0.0b5") + "," + entry("VORNET", "5.0.0b1"));
    kv::test::writeFile(releases.file("VORNET.bin"), "installer");
    showWindow();
    const ProductPtr portal = addProduct(code::KVPORTAL, "KVPortal");
    const ProductPtr vornet = addProduct(code::VORNET, "VORNET");
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return window->central()->portalUpdateState() == 0; }, kDeadlineMs));
    ASSERT_TRUE(QTest::qWaitFor([&] { return vornet->status == ReadyToDownload; }, kDeadlineMs));
    auto held = std::make_shared<Product::Cloud>(*vornet->cloud.get());
    held->link = server.url("/VORNET.bin?gate=restart");
    vornet->cloud.set(held);
    core->requestDownload("VORNET");
    ASSERT_EQ(kvcurl::get(server.url("/control/wait/restart"), 30000)->code, 200);

    Version installed;
    installed.parseVersion("2.0.0b5");
    portal->version.set(installed);
    core->setStatus(portal, Evaluate);
    QLabel* restart = link(row("KVPortal"), "actionLink");
    ASSERT_TRUE(QTest::qWaitFor([&] { return restart->isVisible() && restart->width() > 0; }));
    answerQuestions({QMessageBox::Ok});
    clickLink(restart);
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_EQ(questions[0].title, QStringLiteral("Kelmora Portal"));
    EXPECT_EQ(questions[0].text, QStringLiteral("Cannot restart while downloading"));
    EXPECT_EQ(questions[0].icon, QMessageBox::Warning);
    EXPECT_EQ(questions[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    EXPECT_TRUE(proxy->starts().empty());

    kvcurl::get(server.url("/control/open/restart"), 30000);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !core->isDownloading(); }, kDeadlineMs));
}

} // namespace
