#include "DesktopRecorders.h"
#include "DeviceSimulator.h"
#include "TempDir.h"
#include "WindowFixture.h"
#include "ui/UiScale.h"
#include "ui/ipc/ipc.h"
#include "ui/theme/QKVTheme.h"
#include "ui/window/Central.h"
#include "ui/window/Message.h"
#include "ui/window/ProductRow.h"

#include <QAction>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <QTreeWidget>

#include <algorithm>
#include <cstdlib>
#include <vector>

using namespace kv::portal;

namespace {

constexpr int kDeadlineMs = 30000;

class MainWindow : public kv::test::WindowTest {
protected:
    QAction* action(const char* objectName) const {
        return window->findChild<QAction*>(QLatin1String(objectName));
    }
};

TEST_F(MainWindow, OpensAsKVPortalAt640By480) {
    showWindow();
    EXPECT_EQ(window->windowTitle(), QStringLiteral("KVPortal"));
    EXPECT_EQ(window->size(), QSize(640, 480));
    EXPECT_EQ(Window::instance(), window);
    EXPECT_FALSE(window->windowFlags().testFlag(Qt::WindowContextHelpButtonHint));
    EXPECT_EQ(window->centralWidget(), window->central());
    EXPECT_EQ(Window::showMainWindow(nullptr, core.get(), &callbacks), window)
        << "one window per program";
}

TEST_F(MainWindow, EverySizeFollowsTheScaleFactor) {
    addProduct(code::VORNET, "VORNET");
    const auto sizes = [&] {
        showWindow();
        EXPECT_TRUE(laidOut(row("VORNET")));
        const std::vector<int> shown{window->width(),
                                     window->height(),
                                     row("VORNET")->height(),
                                     child("message")->height(),
                                     child("summary")->height(),
                                     child("groupTitle")->height()};
        delete window;
        window = nullptr;
        return shown;
    };
    const std::vector<int> single = sizes();
    setUiScale(2.0f);
    std::vector<int> doubled;
    for (const int size : single) {
        doubled.push_back(2 * size);
    }
    EXPECT_EQ(sizes(), doubled);
}

TEST_F(MainWindow, ItsCentreLiesOnTheParentsCentre) {
    QWidget parent;
    parent.setGeometry(100, 80, 1000, 800);
    parent.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&parent));
    window = Window::showMainWindow(&parent, core.get(), &callbacks);
    EXPECT_EQ(window->geometry().center(), parent.geometry().center());
    delete window;
    window = nullptr;
}

TEST_F(MainWindow, TheMenusHoldTheirItemsInOrder) {
    showWindow();
    const QList<QAction*> menus = window->menuBar()->actions();
    ASSERT_EQ(menus.size(), 2);
    EXPECT_EQ(menus[0]->text(), QStringLiteral("&File"));
    EXPECT_EQ(menus[1]->text(), QStringLiteral("&Help"));
    QStringList file;
    for (QAction* item : menus[0]->menu()->actions()) {
        file << (item->isSeparator() ? QStringLiteral("-") : item->text());
    }
    EXPECT_EQ(file, (QStringList{QStringLiteral("&Refresh"), QStringLiteral("Resync With &Server"),
                                 QStringLiteral("&Open Downloads Directory"), QStringLiteral("-"),
                                 QStringLiteral("&Quit")}));
    ASSERT_EQ(menus[1]->menu()->actions().size(), 2);
    EXPECT_EQ(menus[1]->menu()->actions()[0]->text(), QStringLiteral("&Documentation"));
    EXPECT_EQ(menus[1]->menu()->actions()[1]->text(), QStringLiteral("Update &History"));
}

TEST_F(MainWindow, RefreshIsTheOwnersAndTheOtherItemsReachTheDesktop) {
    kv::test::FakeFileManager fileManager;
    kv::test::UrlRecorder browser(QStringLiteral("https"));
    showWindow();

    action("actionRefresh")->trigger();
    EXPECT_EQ(callbacks.refreshes, 1);

    action("actionOpenDownloads")->trigger();
    ASSERT_TRUE(QTest::qWaitFor([&] { return fileManager.calls.size() == 1; }, kDeadlineMs));
    EXPECT_EQ(fileManager.calls[0].method, QStringLiteral("ShowFolders"));
    EXPECT_EQ(
        fileManager.calls[0].uris,
        QStringList{
            QUrl::fromLocalFile(QString::fromStdString(environment.downloadsDir())).toString()});

    action("actionDocumentation")->trigger();
    ASSERT_EQ(browser.urls.size(), 1u);
    EXPECT_EQ(browser.urls[0].toString(),
              QStringLiteral("https://www.kelmora.example/support/kvportal/documentation"));

    kv::test::writeFile(environment.downloadsDir() + "/history.jsonl",
                        "{\"time\":\"2026-12-07T22:35:00Z\",\"product\":\"Korvex\"}\n"
                        "{\"time\":\"2026-12-07T22:36:00Z\",\"product\":\"Rx48\"}\n");
    action("actionHistory")->trigger();
    const auto* history = window->findChild<QTreeWidget*>(QStringLiteral("historyList"));
    ASSERT_NE(history, nullptr);
    ASSERT_EQ(history->topLevelItemCount(), 2);
    EXPECT_EQ(history->topLevelItem(0)->text(1), QStringLiteral("Rx48")) << "newest first";
    EXPECT_EQ(history->topLevelItem(1)->text(0), QStringLiteral("2026-12-07T22:35:00Z"));

    action("actionQuit")->trigger();
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(questions.empty());
}

TEST_F(MainWindow, ClosingIsRefusedWhileAFirmwareUpdateRuns) {
    kv::test::DeviceSimulator::Options options;
    options.behaviour = R"({"phase_ms": 1500})";
    kv::test::TempDir lab;
    options.imageFile = lab.file("received.bin");
    kv::test::DeviceSimulator device(options);
    showWindow();
    const ProductPtr korvex = addProduct(code::KORVEX_FIRMWARE, "Korvex", device.address());
    giveRelease(korvex, "2.0.0b7");
    kv::test::DeviceSimulator::makeImage(core->downloadPath(korvex, true), "2.0.0b7", 64 * 1024);
    core->setStatus(korvex, Evaluate);
    ASSERT_EQ(korvex->status, static_cast<uint32_t>(ReadyToUpdate));

    QLabel* update = link(row("Korvex"), "actionLink");
    ASSERT_TRUE(QTest::qWaitFor([&] { return update->width() > 0; }));
    clickLink(update);
    ASSERT_TRUE(QTest::qWaitFor([&] { return core->firmwareUpdateActive(); }, kDeadlineMs));

    answerQuestions({QMessageBox::Ok, QMessageBox::Ok});
    window->close();
    action("actionQuit")->trigger();
    EXPECT_TRUE(window->isVisible());
    ASSERT_EQ(questions.size(), 2u);
    for (const kv::test::Question& question : questions) {
        EXPECT_EQ(question.title, QStringLiteral("Kelmora Portal"));
        EXPECT_EQ(question.text, QStringLiteral("Cannot exit.\nFirmware update in process"));
        EXPECT_EQ(question.icon, QMessageBox::Warning);
        EXPECT_EQ(question.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    }

    ASSERT_TRUE(QTest::qWaitFor([&] { return !core->firmwareUpdateActive(); }, kDeadlineMs));
    // Back from its reboot, the device runs the release.
    EXPECT_TRUE(QTest::qWaitFor([&] { return korvex->status == UpToDate; }, kDeadlineMs));
    window->close();
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(questions.size(), 2u);
}

} // namespace

namespace {

class DarkScheme : public kv::test::WindowTest {
protected:
    ~DarkScheme() override { switchTo("light"); }

    static void switchTo(const char* scheme) {
        ::setenv("KVPORTAL_COLOR_SCHEME", scheme, 1);
        QKVTheme::instance()->slotThemeChanged();
    }

    // How much darker the message's text is than its panel, as the panel paints them both: the
    // text starts right of the panel's margin, where the panel's own colour shows.
    static int textContrast(QWidget* message) {
        const QImage image = message->grab().toImage();
        const int panel = qGray(image.pixel(scaled(3), image.height() / 2));
        int darkest = panel;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = scaled(14); x < image.width() / 2; ++x) {
                darkest = std::min(darkest, qGray(image.pixel(x, y)));
            }
        }
        return panel - darkest;
    }
};

TEST_F(DarkScheme, RowsAndGroupsTurnDarkWhileTheMessagePanelStaysLight) {
    showWindow();
    addProduct(code::PELRA_FIRMWARE, "Pelra");
    Window::Product* pelra = row("Pelra");
    ASSERT_TRUE(laidOut(pelra));
    const QPoint inside(scaled(3), scaled(100));
    EXPECT_EQ(pelra->grab().toImage().pixelColor(inside), QColor(255, 255, 255));

    switchTo("dark");
    EXPECT_EQ(pelra->grab().toImage().pixelColor(inside), QColor(43, 43, 43));
    QWidget* group = pelra->parentWidget();
    EXPECT_EQ(group->grab().toImage().pixelColor(scaled(3), group->height() / 2),
              QColor(28, 28, 28));
    QWidget* message = child("message");
    EXPECT_EQ(message->grab().toImage().pixelColor(scaled(3), message->height() / 2),
              QColor(255, 227, 191));
}

// The panel is light in both schemes, so its text stays dark whichever scheme the window
// opened in and however the scheme switched since.
TEST_F(DarkScheme, MessageTextStaysDarkOnItsPanelAfterEverySwitch) {
    for (const char* start : {"light", "dark"}) {
        switchTo(start);
        showWindow();
        EXPECT_GT(textContrast(child("message")), 128) << "opened " << start;
        for (const char* scheme : {"dark", "light", "dark", "light"}) {
            switchTo(scheme);
            EXPECT_GT(textContrast(child("message")), 128)
                << "opened " << start << ", then " << scheme;
        }
        delete window;
    }
}

} // namespace
