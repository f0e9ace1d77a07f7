// The desktop's colour scheme and file manager, on a session bus of the test's own with a
// settings portal and a file manager of the test's own on it.
#include "LabProcess.h"
#include "ScopedEnv.h"
#include "TempDir.h"
#include "platform/qt/FileManager.h"
#include "platform/qt/UiSettings.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QSignalSpy>
#include <QStringList>
#include <QTest>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <memory>

using kv::platform::UiSettings;

namespace {

const char kBusConfig[] = R"(<busconfig>
  <type>session</type>
  <listen>unix:tmpdir=/tmp</listen>
  <auth>EXTERNAL</auth>
  <policy context="default"><allow send_destination="*"/><allow receive_sender="*"/><allow own="*"/></policy>
</busconfig>
)";

const QColor kWhite(255, 255, 255);
const QColor kBlack(0, 0, 0);

class Desktop : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Settings")

public:
    QVariant colorScheme;

    void changeColorScheme(const QVariant& value, const char* key = "color-scheme") {
        QDBusMessage signal = QDBusMessage::createSignal(
            "/org/freedesktop/portal/desktop", "org.freedesktop.portal.Settings", "SettingChanged");
        signal << "org.freedesktop.appearance" << key << QVariant::fromValue(QDBusVariant(value));
        QDBusConnection::sessionBus().send(signal);
    }

public slots:
    // Older portals wrap the value twice.
    QDBusVariant Read(const QString& group, const QString& key) {
        return QDBusVariant(group == "org.freedesktop.appearance" && key == "color-scheme"
                                ? QVariant::fromValue(QDBusVariant(colorScheme))
                                : QVariant());
    }
};

class FileManager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")

public:
    QStringList shown;

public slots:
    void ShowItems(const QStringList& uris, const QString&) { shown << "items " + uris.join(","); }
    void ShowFolders(const QStringList& uris, const QString&) {
        shown << "folders " + uris.join(",");
    }
};

Desktop* desktop = nullptr;

} // namespace

TEST(UiSettings, SchemeComesFromTheVariableThenThePortalThenThePalette) {
    QPalette palette = QApplication::palette();
    palette.setColor(QPalette::WindowText, Qt::red);
    palette.setColor(QPalette::Window, Qt::blue);
    QApplication::setPalette(palette);
    struct Case {
        const char* variable;
        QVariant portal;
        QColor foreground;
        QColor background;
    } const cases[] = {
        {"dark", 2u, kWhite, kBlack},     {"LIGHT", 1u, kBlack, kWhite},
        {"blue", 1u, kWhite, kBlack},     {nullptr, 2u, kBlack, kWhite},
        {nullptr, 0u, Qt::red, Qt::blue}, {nullptr, 3u, Qt::red, Qt::blue},
        {nullptr, "1", kWhite, kBlack},
    };
    for (const Case& c : cases) {
        const kv::test::ScopedEnv scheme("KVPORTAL_COLOR_SCHEME", c.variable);
        desktop->colorScheme = c.portal;
        const UiSettings settings;
        EXPECT_EQ(std::pair(c.foreground, c.background),
                  std::pair(settings.foreground(), settings.background()))
            << c.variable << c.portal.toString().toStdString();
    }
}

TEST(UiSettings, ChangesOfThePortalAndTheDesktopsPaletteAreSignalled) {
    desktop->colorScheme = 0u;
    UiSettings settings;
    QSignalSpy changed(&settings, &UiSettings::colorValuesChanged);

    desktop->changeColorScheme(1u);
    ASSERT_TRUE(changed.wait());
    EXPECT_EQ(kWhite, settings.foreground());
    // The same preference again, or another setting, is no change.
    desktop->changeColorScheme(1u);
    desktop->changeColorScheme(2u, "contrast");
    desktop->changeColorScheme(0u);
    ASSERT_TRUE(QTest::qWaitFor([&] { return settings.foreground() == QColor(Qt::red); }));
    EXPECT_EQ(2, changed.count());

    // The program's own palettes are not the desktop's.
    const QPalette desktopPalette = QApplication::palette();
    for (const Qt::GlobalColor own : {Qt::green, Qt::darkGreen}) {
        QPalette palette = desktopPalette;
        palette.setColor(QPalette::WindowText, own);
        settings.applyOwnLook([&] {
            settings.applyOwnLook([] {});
            QApplication::setPalette(palette);
        });
    }
    // A desktop palette with the same colours changes nothing; other colours are signalled.
    QPalette palette = desktopPalette;
    palette.setColor(QPalette::Base, Qt::yellow);
    QApplication::setPalette(palette);
    QCoreApplication::processEvents();
    EXPECT_EQ(2, changed.count());
    EXPECT_EQ(QColor(Qt::red), settings.foreground());
    palette.setColor(QPalette::Window, Qt::cyan);
    QApplication::setPalette(palette);
    QCoreApplication::processEvents();
    EXPECT_EQ(3, changed.count());
    EXPECT_EQ(QColor(Qt::cyan), settings.background());
}

TEST(FileManager, IsAskedOverTheBusAndStartedThroughXdgOpenWithoutOne) {
    FileManager manager;
    QDBusConnection bus = QDBusConnection::sessionBus();
    ASSERT_TRUE(bus.registerObject("/org/freedesktop/FileManager1", &manager,
                                   QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(bus.registerService("org.freedesktop.FileManager1"));
    EXPECT_TRUE(kv::platform::showInFileManager("/srv/Downloads/KV/korvex.img", true));
    EXPECT_TRUE(kv::platform::showInFileManager("/srv/Downloads/KV", false));
    ASSERT_TRUE(QTest::qWaitFor([&] { return manager.shown.size() == 2; }));
    EXPECT_EQ("items file:///srv/Downloads/KV/korvex.img|folders file:///srv/Downloads/KV",
              manager.shown.join("|").toStdString());
    bus.unregisterService("org.freedesktop.FileManager1");

    // Without one, xdg-open is given the folder.
    kv::test::TempDir bin;
    const std::string fifo = bin.file("opened");
    ASSERT_EQ(0, ::mkfifo(fifo.c_str(), 0600));
    kv::test::writeFile(bin.file("xdg-open"), "#!/bin/sh\necho \"$1\" > " + fifo + "\n");
    ::chmod(bin.file("xdg-open").c_str(), 0700);
    const kv::test::ScopedEnv path("PATH", (bin.path() + ":" + std::getenv("PATH")).c_str());
    std::unique_ptr<FILE, int (*)(FILE*)> opened(std::fopen(fifo.c_str(), "r+"), &std::fclose);
    for (const auto& [shown, select] :
         {std::pair{"/srv/Downloads/KV/korvex.img", true}, {"/srv/Downloads/KV", false}}) {
        EXPECT_TRUE(kv::platform::showInFileManager(shown, select));
        char line[256] = "";
        ASSERT_NE(nullptr, std::fgets(line, sizeof(line), opened.get()));
        EXPECT_STREQ("/srv/Downloads/KV\n", line);
    }
}

int main(int argc, char** argv) {
    const kv::test::TempDir folder;
    kv::test::writeFile(folder.file("bus.conf"), kBusConfig);
    const kv::test::LabProcess bus({"dbus-daemon", "--config-file=" + folder.file("bus.conf"),
                                    "--nofork", "--nopidfile", "--print-address=1"});
    ::setenv("DBUS_SESSION_BUS_ADDRESS", bus.firstLine().c_str(), 1);
    QApplication app(argc, argv);
    Desktop portal;
    desktop = &portal;
    QDBusConnection::sessionBus().registerObject("/org/freedesktop/portal/desktop", &portal,
                                                 QDBusConnection::ExportAllSlots);
    QDBusConnection::sessionBus().registerService("org.freedesktop.portal.Desktop");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

#include "QtDesktopTest.moc"
