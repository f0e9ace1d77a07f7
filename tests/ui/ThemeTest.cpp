// The theme in a real widget application. The desktop's scheme comes from a settings portal
// served on a private session bus, from the application palette, or from KVPORTAL_COLOR_SCHEME,
// as on a user's desktop.

#include "TempDir.h"
#include "ui/theme/QKVTheme.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QImage>
#include <QLabel>
#include <QProcess>
#include <QSignalSpy>
#include <QThread>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <ostream>

using kv::portal::QKVTheme;

// Texts in failure messages.
std::ostream& operator<<(std::ostream& out, const QString& text) {
    return out << text.toStdString();
}

namespace {

const QString kPortalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPortalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kSettings = QStringLiteral("org.freedesktop.portal.Settings");
const QString kLightLink = QStringLiteral(" style=\"color: rgb(0, 0, 255);\"");
const QString kDarkLink = QStringLiteral(" style=\"color: rgb(42, 130, 218);\"");
constexpr int kSignalWaitMs = 10000;

// The settings portal's Read method and SettingChanged signal for the colour scheme.
class FakePortal : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Settings")

public:
    std::atomic<uint> colorScheme{0};

public slots:
    QDBusVariant Read(const QString& group, const QString& key) {
        if (group == QLatin1String("org.freedesktop.appearance") &&
            key == QLatin1String("color-scheme")) {
            // The portal wraps the value in a variant of its own.
            return QDBusVariant(QVariant::fromValue(QDBusVariant(colorScheme.load())));
        }
        return QDBusVariant(QString());
    }
};

// A private session bus with the fake portal on it, served from a thread of its own so that
// the theme's blocking calls are answered.
class PrivateDesktop {
public:
    bool start() {
        daemon_.setProgram(QStringLiteral("dbus-daemon"));
        daemon_.setArguments({QStringLiteral("--session"), QStringLiteral("--nofork"),
                              QStringLiteral("--print-address=1")});
        daemon_.start();
        if (!daemon_.waitForStarted() || !daemon_.waitForReadyRead(kSignalWaitMs)) {
            return false;
        }
        const QByteArray address = daemon_.readLine().trimmed();
        qputenv("DBUS_SESSION_BUS_ADDRESS", address);

        portal_ = std::make_unique<FakePortal>();
        portal_->moveToThread(&thread_);
        thread_.start();
        connection_ = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(QString::fromUtf8(address), QStringLiteral("portal")));
        return connection_->isConnected() && connection_->registerService(kPortalService) &&
               connection_->registerObject(kPortalPath, portal_.get(),
                                           QDBusConnection::ExportAllSlots);
    }

    void stop() {
        connection_.reset();
        QDBusConnection::disconnectFromBus(QStringLiteral("portal"));
        thread_.quit();
        thread_.wait();
        portal_.reset();
        daemon_.kill();
        daemon_.waitForFinished();
    }

    uint colorScheme() const { return portal_->colorScheme; }

    void setColorScheme(uint value) {
        portal_->colorScheme = value;
        QDBusMessage changed =
            QDBusMessage::createSignal(kPortalPath, kSettings, QStringLiteral("SettingChanged"));
        changed << QStringLiteral("org.freedesktop.appearance") << QStringLiteral("color-scheme")
                << QVariant::fromValue(QDBusVariant(value));
        connection_->send(changed);
    }

private:
    QProcess daemon_;
    QThread thread_;
    std::unique_ptr<FakePortal> portal_;
    std::unique_ptr<QDBusConnection> connection_;
};

// The theme's signal may come at once, from within the change, or later from the bus.
bool received(QSignalSpy& spy) {
    return !spy.isEmpty() || spy.wait(kSignalWaitMs);
}

PrivateDesktop* desktop = nullptr;
QPalette startupPalette;

class Theme : public ::testing::Test {
protected:
    void SetUp() override {
        qunsetenv("KVPORTAL_COLOR_SCHEME");
        setPortal(0);
        ASSERT_FALSE(theme->isDark()) << "the test application starts light";
    }

    // Changes the portal's setting and waits until the theme has followed it.
    void setPortal(uint value) {
        if (desktop->colorScheme() == value) {
            return;
        }
        QSignalSpy changed(theme, &QKVTheme::signalThemeChanged);
        desktop->setColorScheme(value);
        ASSERT_TRUE(received(changed));
        // The queued slot runs after the signal; let it.
        QCoreApplication::processEvents();
    }

    QKVTheme* theme = QKVTheme::instance();
};

TEST_F(Theme, LinkStyledColoursEveryAnchorForTheSchemeAndLeavesTheRest) {
    const QString hide = QStringLiteral("<a href=\"Hide\">Hide</a>");
    const QString lightHide = QStringLiteral("<a href=\"Hide\"") + kLightLink + ">Hide</a>";
    const struct {
        bool dark;
        QString text;
        QString styled;
    } cases[] = {
        {false, "No compatible software/hardware has been detected",
         "No compatible software/hardware has been detected"},
        {false, "", ""},
        {false, "<a href=\"Download\">Download</a> | <a href=\"ReleaseNotes\">Notes</a>",
         "<a href=\"Download\"" + kLightLink + ">Download</a> | <a href=\"ReleaseNotes\"" +
             kLightLink + ">Notes</a>"},
        {false, "<a href=\"x\">x</a> <a href", "<a href=\"x\"" + kLightLink + ">x</a> <a href"},
        {false, hide, lightHide},
        {true, hide, "<a href=\"Hide\"" + kDarkLink + ">Hide</a>"},
        {true, lightHide, "<a href=\"Hide\"" + kLightLink + kDarkLink + ">Hide</a>"},
    };
    for (const auto& c : cases) {
        ASSERT_NO_FATAL_FAILURE(setPortal(c.dark ? 1 : 0));
        EXPECT_EQ(c.styled, theme->linkStyled(c.text)) << c.text;
    }
}

TEST_F(Theme, FirstColourRegistrationWinsAndAnUnregisteredColourIsBlack) {
    const auto number = static_cast<QKVTheme::ThemeColor>(1001);
    theme->setColorPair(number, QColor(10, 20, 30), QColor(40, 50, 60));
    theme->setColorPair(number, QColor(255, 0, 0), QColor(0, 255, 0));
    EXPECT_EQ(QColor(10, 20, 30), theme->colorFor(number));
    EXPECT_EQ(QColor(Qt::black), theme->colorFor(static_cast<QKVTheme::ThemeColor>(1002)));
    setPortal(1);
    EXPECT_EQ(QColor(40, 50, 60), theme->colorFor(number));
}

TEST_F(Theme, SchemeChangeSwitchesPaletteStyleSheetAndRegisteredWindows) {
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* link = new QLabel(theme->linkStyled(QStringLiteral("<a href=\"Hide\">Hide</a>")));
    auto* plain = new QLabel(QStringLiteral("KVPortal"));
    layout->addWidget(link);
    layout->addWidget(plain);
    theme->registerWindow(&window);

    setPortal(1);
    EXPECT_TRUE(theme->isDark());
    EXPECT_EQ(QColor(0, 0, 0), QApplication::palette().color(QPalette::Window));
    EXPECT_EQ(QColor(42, 130, 218), QApplication::palette().color(QPalette::Highlight));
    EXPECT_FALSE(theme->darkStyleSheet().isEmpty());
    EXPECT_NE(QKVTheme::lightStyleSheet(), theme->darkStyleSheet());
    EXPECT_EQ(theme->darkStyleSheet(), qApp->styleSheet());
    EXPECT_EQ(theme->darkStyleSheet(), window.styleSheet());
    EXPECT_EQ(QColor(25, 25, 25), window.palette().color(QPalette::Base));
    EXPECT_EQ(QColor(25, 25, 25), link->palette().color(QPalette::Base));
    EXPECT_TRUE(link->text().endsWith(kDarkLink + QStringLiteral(">Hide</a>"))) << link->text();
    EXPECT_EQ(QStringLiteral("KVPortal"), plain->text());

    setPortal(2);
    EXPECT_FALSE(theme->isDark());
    EXPECT_EQ(startupPalette.color(QPalette::Window),
              QApplication::palette().color(QPalette::Window));
    EXPECT_EQ(QKVTheme::lightStyleSheet(), qApp->styleSheet());
    EXPECT_EQ(QKVTheme::lightStyleSheet(), window.styleSheet());
    EXPECT_TRUE(link->text().endsWith(kLightLink + QStringLiteral(">Hide</a>"))) << link->text();
}

TEST_F(Theme, DestroyedWindowIsDroppedAndLeftAloneByLaterChanges) {
    QWidget kept;
    auto gone = std::make_unique<QWidget>();
    auto* goneLabel = new QLabel(QStringLiteral("<a href=\"x\">x</a>"), gone.get());
    theme->registerWindow(&kept);
    theme->registerWindow(gone.get());
    theme->registerWindow(gone.get());
    ASSERT_TRUE(theme->isRegistered(gone.get()));
    EXPECT_EQ(QStringLiteral("<a href=\"x\">x</a>"), goneLabel->text())
        << "registering restyles nothing";

    gone.reset();
    EXPECT_FALSE(theme->isRegistered(gone.get()));
    EXPECT_TRUE(theme->isRegistered(&kept));
    setPortal(1);
    EXPECT_EQ(theme->darkStyleSheet(), kept.styleSheet());
}

TEST_F(Theme, TitleBarOnlyRegistrationKeepsNoWindow) {
    QWidget dialog;
    theme->registerWindow(&dialog, true);
    EXPECT_FALSE(theme->isRegistered(&dialog));
}

TEST_F(Theme, SystemPaletteDecidesWithoutPortalPreference) {
    QPalette darkDesktop = startupPalette;
    darkDesktop.setColor(QPalette::Window, QColor(30, 30, 30));
    darkDesktop.setColor(QPalette::WindowText, QColor(230, 230, 230));
    {
        QSignalSpy changed(theme, &QKVTheme::signalThemeChanged);
        QApplication::setPalette(darkDesktop);
        ASSERT_TRUE(received(changed));
    }
    QCoreApplication::processEvents();
    EXPECT_TRUE(theme->isDark());
    EXPECT_EQ(QColor(230, 230, 230), theme->systemColor(QKVTheme::Foreground));
    EXPECT_EQ(QColor(0, 0, 0), QApplication::palette().color(QPalette::Window))
        << "the theme's own dark palette, not the desktop's";
    EXPECT_EQ(theme->darkStyleSheet(), qApp->styleSheet());

    {
        QSignalSpy changed(theme, &QKVTheme::signalThemeChanged);
        QApplication::setPalette(startupPalette);
        ASSERT_TRUE(received(changed));
    }
    QCoreApplication::processEvents();
    EXPECT_FALSE(theme->isDark());
    EXPECT_EQ(QKVTheme::lightStyleSheet(), qApp->styleSheet());
}

TEST_F(Theme, EnvironmentOverridesThePortal) {
    qputenv("KVPORTAL_COLOR_SCHEME", "dark");
    EXPECT_TRUE(theme->isDark());
    EXPECT_EQ(QColor(255, 255, 255), theme->systemColor(QKVTheme::Foreground));
    setPortal(1);
    qputenv("KVPORTAL_COLOR_SCHEME", "light");
    EXPECT_FALSE(theme->isDark());
    qputenv("KVPORTAL_COLOR_SCHEME", "sepia");
    EXPECT_TRUE(theme->isDark()) << "an unknown value leaves it to the portal";
}

TEST_F(Theme, MessageBoxIsDarkOnlyInTheDarkScheme) {
    QString styleSheet = QStringLiteral("unset");
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    theme->setMessageBoxAnswerer([&](QMessageBox& box) {
        styleSheet = box.styleSheet();
        title = box.windowTitle();
        text = box.text();
        icon = box.icon();
        buttons = box.standardButtons();
        return QMessageBox::No;
    });

    EXPECT_EQ(QMessageBox::No,
              theme->showMessageBox(nullptr, QStringLiteral("Switch To Dante"),
                                    QStringLiteral("Switch?"), QMessageBox::Question,
                                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel));
    EXPECT_EQ(QString(), styleSheet);
    EXPECT_EQ(QStringLiteral("Switch To Dante"), title);
    EXPECT_EQ(QStringLiteral("Switch?"), text);
    EXPECT_EQ(QMessageBox::Question, icon);
    EXPECT_EQ(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, buttons);

    setPortal(1);
    theme->showMessageBox(nullptr, QStringLiteral("Kelmora Portal"),
                          QStringLiteral("Cannot exit.\nFirmware update in process"),
                          QMessageBox::Warning, QMessageBox::Ok);
    EXPECT_EQ(QStringLiteral("background-color: rgb(43, 43, 43);color: rgb(255, 255, 255);"),
              styleSheet);
    theme->setMessageBoxAnswerer(nullptr);
}

} // namespace

int main(int argc, char** argv) {
    kv::test::TempDir runtime;
    qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(runtime.path()));
    qunsetenv("KVPORTAL_COLOR_SCHEME");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);

    PrivateDesktop privateDesktop;
    if (!privateDesktop.start()) {
        std::fprintf(stderr, "no private session bus with a settings portal\n");
        return 1;
    }
    desktop = &privateDesktop;
    startupPalette = QApplication::palette();
    QKVTheme::instance()->initialize(&app);

    const int result = RUN_ALL_TESTS();
    privateDesktop.stop();
    return result;
}

#include "ThemeTest.moc"
