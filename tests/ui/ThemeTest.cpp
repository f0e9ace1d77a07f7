// The theme in a real widget application on an X server of its own (Xvfb), where title bars
// carry the property window managers read. The scheme comes from KVPORTAL_COLOR_SCHEME or,
// without it, from the application palette.

#include "TempDir.h"
#include "ui/theme/QKVTheme.h"

#include <QApplication>
#include <QLabel>
#include <QProcess>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>
#include <string>

using kv::portal::QKVTheme;

namespace {

const QString kLightLink = QStringLiteral(" style=\"color: rgb(0, 0, 255);\"");
const QString kDarkLink = QStringLiteral(" style=\"color: rgb(42, 130, 218);\"");
QPalette startupPalette;

template <typename T>
using XReply = std::unique_ptr<T, decltype(&std::free)>;

// The title bar's variant as the window manager reads it.
std::string titleBar(QWidget& window) {
    xcb_connection_t* x = xcb_connect(nullptr, nullptr);
    const XReply<xcb_intern_atom_reply_t> atom(
        xcb_intern_atom_reply(x, xcb_intern_atom(x, 0, 18, "_GTK_THEME_VARIANT"), nullptr),
        &std::free);
    const XReply<xcb_get_property_reply_t> property(
        xcb_get_property_reply(x,
                               xcb_get_property(x, 0, static_cast<xcb_window_t>(window.winId()),
                                                atom->atom, XCB_ATOM_ANY, 0, 16),
                               nullptr),
        &std::free);
    const std::string value(static_cast<const char*>(xcb_get_property_value(property.get())),
                            static_cast<size_t>(xcb_get_property_value_length(property.get())));
    xcb_disconnect(x);
    return value;
}

bool showsTitleBar(QWidget& window, const std::string& variant) {
    return QTest::qWaitFor([&] { return titleBar(window) == variant; });
}

class Theme : public ::testing::Test {
protected:
    void SetUp() override { setScheme("light"); }

    // As the desktop's change arrives: the variable read again, then the theme's signal.
    void setScheme(const char* scheme) {
        qputenv("KVPORTAL_COLOR_SCHEME", scheme);
        emit theme->signalThemeChanged();
    }

    QKVTheme* theme = QKVTheme::instance();
};

TEST_F(Theme, LinksAndRegisteredColoursFollowTheScheme) {
    const QString hide = QStringLiteral("<a href=\"Hide\">Hide</a>");
    const QString lightHide = "<a href=\"Hide\"" + kLightLink + ">Hide</a>";
    const struct {
        const char* scheme;
        QString text;
        QString styled;
    } cases[] = {
        {"light", "No compatible software", "No compatible software"},
        {"light", "<a href=\"D\">D</a> | <a href=\"N\">N</a>",
         "<a href=\"D\"" + kLightLink + ">D</a> | <a href=\"N\"" + kLightLink + ">N</a>"},
        {"light", "<a href=\"x\">x</a> <a href", "<a href=\"x\"" + kLightLink + ">x</a> <a href"},
        {"light", hide, lightHide},
        {"dark", hide, "<a href=\"Hide\"" + kDarkLink + ">Hide</a>"},
        {"dark", lightHide, "<a href=\"Hide\"" + kLightLink + kDarkLink + ">Hide</a>"},
    };
    for (const auto& c : cases) {
        setScheme(c.scheme);
        EXPECT_EQ(c.styled.toStdString(), theme->linkStyled(c.text).toStdString());
    }
    // Colour pairs: the first registration wins; an unregistered number paints black.
    const auto number = static_cast<QKVTheme::ThemeColor>(1001);
    theme->setColorPair(number, QColor(10, 20, 30), QColor(40, 50, 60));
    theme->setColorPair(number, QColor(255, 0, 0), QColor(0, 255, 0));
    EXPECT_EQ(QColor(40, 50, 60), theme->colorFor(number));
    EXPECT_EQ(QColor(Qt::black), theme->colorFor(static_cast<QKVTheme::ThemeColor>(1002)));
    setScheme("light");
    EXPECT_EQ(QColor(10, 20, 30), theme->colorFor(number));
}

TEST_F(Theme, SchemeChangeRestylesRegisteredWindowsUntilTheyAreDestroyed) {
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* link = new QLabel(theme->linkStyled(QStringLiteral("<a href=\"Hide\">Hide</a>")));
    auto* plain = new QLabel(QStringLiteral("KVPortal"));
    layout->addWidget(link);
    layout->addWidget(plain);
    auto gone = std::make_unique<QWidget>();
    auto* goneLabel = new QLabel(QStringLiteral("<a href=\"x\">x</a>"), gone.get());
    QWidget titleBarOnly;
    for (QWidget* registered : {&window, gone.get(), gone.get()}) {
        theme->registerWindow(registered);
    }
    theme->registerWindow(&titleBarOnly, true);
    EXPECT_EQ(goneLabel->text(), QStringLiteral("<a href=\"x\">x</a>")) << "nothing restyled yet";
    EXPECT_FALSE(theme->isRegistered(&titleBarOnly));
    EXPECT_TRUE(theme->isRegistered(gone.get()));
    gone.reset();
    EXPECT_FALSE(theme->isRegistered(gone.get()));
    window.show();
    EXPECT_TRUE(showsTitleBar(window, "light")) << titleBar(window);

    setScheme("dark");
    EXPECT_TRUE(theme->isDark());
    EXPECT_EQ(QColor(0, 0, 0), QApplication::palette().color(QPalette::Window));
    EXPECT_EQ(QColor(42, 130, 218), QApplication::palette().color(QPalette::Highlight));
    EXPECT_NE(QKVTheme::lightStyleSheet(), theme->darkStyleSheet());
    EXPECT_EQ(theme->darkStyleSheet(), qApp->styleSheet());
    EXPECT_EQ(theme->darkStyleSheet(), window.styleSheet());
    EXPECT_EQ(QColor(25, 25, 25), window.palette().color(QPalette::Base));
    EXPECT_EQ(QColor(25, 25, 25), link->palette().color(QPalette::Base));
    EXPECT_TRUE(link->text().endsWith(kDarkLink + ">Hide</a>")) << link->text().toStdString();
    EXPECT_EQ(QStringLiteral("KVPortal"), plain->text());
    EXPECT_TRUE(showsTitleBar(window, "dark")) << titleBar(window);

    setScheme("light");
    EXPECT_EQ(startupPalette.color(QPalette::Window),
              QApplication::palette().color(QPalette::Window));
    EXPECT_EQ(QKVTheme::lightStyleSheet(), qApp->styleSheet());
    EXPECT_EQ(QKVTheme::lightStyleSheet(), window.styleSheet());
    EXPECT_TRUE(link->text().endsWith(kLightLink + ">Hide</a>")) << link->text().toStdString();
    EXPECT_TRUE(showsTitleBar(window, "light")) << titleBar(window);
}

TEST_F(Theme, WithoutTheVariableTheApplicationPaletteDecides) {
    qunsetenv("KVPORTAL_COLOR_SCHEME");
    QPalette darkDesktop = startupPalette;
    darkDesktop.setColor(QPalette::Window, QColor(30, 30, 30));
    darkDesktop.setColor(QPalette::WindowText, QColor(230, 230, 230));
    QApplication::setPalette(darkDesktop);
    EXPECT_TRUE(QTest::qWaitFor([&] { return qApp->styleSheet() == theme->darkStyleSheet(); }));
    EXPECT_EQ(QColor(230, 230, 230), theme->systemColor(QKVTheme::Foreground));
    EXPECT_EQ(QColor(0, 0, 0), QApplication::palette().color(QPalette::Window))
        << "the theme's own dark palette, not the desktop's";

    QApplication::setPalette(startupPalette);
    EXPECT_TRUE(QTest::qWaitFor([] { return qApp->styleSheet() == QKVTheme::lightStyleSheet(); }));
    EXPECT_FALSE(theme->isDark());
}

TEST_F(Theme, MessageBoxShowsWhatItWasGivenAndIsDarkOnlyInTheDarkScheme) {
    QString seen;
    bool darkTitleBar = false;
    theme->setMessageBoxAnswerer([&](QMessageBox& box) {
        seen = box.styleSheet() + "|" + box.windowTitle() + "|" + box.text() + "|" +
               QString::number(box.icon()) + "|" + QString::number(box.standardButtons()) + "|" +
               QString::number(box.textFormat());
        box.show();
        darkTitleBar = showsTitleBar(box, "dark");
        return QMessageBox::No;
    });
    const auto buttons = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    EXPECT_EQ(QMessageBox::No, theme->showMessageBox(nullptr, "Switch To Dante", "<b>Switch?</b>",
                                                     QMessageBox::Question, buttons));
    EXPECT_EQ(seen, "|Switch To Dante|<b>Switch?</b>|4|" + QString::number(buttons) + "|0");

    setScheme("dark");
    theme->showMessageBox(nullptr, "Kelmora Portal", "Cannot exit.", QMessageBox::Warning,
                          QMessageBox::Ok);
    theme->setMessageBoxAnswerer(nullptr);
    EXPECT_TRUE(seen.startsWith(
        "background-color: rgb(43, 43, 43);color: rgb(255, 255, 255);|Kelmora Portal|"));
    EXPECT_TRUE(darkTitleBar);
}

} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QProcess server;
    server.start(QStringLiteral("Xvfb"),
                 {"-displayfd", "1", "-screen", "0", "800x600x24", "-nolisten", "tcp"});
    if (!server.waitForReadyRead(10000)) {
        std::fprintf(stderr, "Xvfb did not start\n");
        return 1;
    }
    qputenv("DISPLAY", ":" + server.readLine().trimmed());
    qputenv("QT_QPA_PLATFORM", "xcb");
    // No desktop's portal answers: the variable or the palette decides.
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent");
    kv::test::TempDir runtime;
    qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(runtime.path()));
    int result = 1;
    {
        QApplication app(argc, argv);
        startupPalette = QApplication::palette();
        QKVTheme::instance()->initialize(&app);
        result = RUN_ALL_TESTS();
    }
    server.terminate();
    server.waitForFinished();
    return result;
}
