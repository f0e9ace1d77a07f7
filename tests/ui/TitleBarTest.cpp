// The title bar follows the scheme on a real X server (Xvfb) through the window property
// that window managers read.

#include "ui/theme/QKVTheme.h"

#include <QApplication>
#include <QProcess>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>

using kv::portal::QKVTheme;

namespace {

constexpr int kDeadlineMs = 10000;

// What the window manager would read from the window.
std::string themeVariant(QWidget& window) {
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    const char name[] = "_GTK_THEME_VARIANT";
    std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> atom(
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, std::strlen(name), name),
                              nullptr),
        &std::free);
    std::string value;
    if (atom) {
        std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> property(
            xcb_get_property_reply(connection,
                                   xcb_get_property(connection, 0,
                                                    static_cast<xcb_window_t>(window.winId()),
                                                    atom->atom, XCB_ATOM_ANY, 0, 16),
                                   nullptr),
            &std::free);
        if (property) {
            value.assign(static_cast<const char*>(xcb_get_property_value(property.get())),
                         static_cast<size_t>(xcb_get_property_value_length(property.get())));
        }
    }
    xcb_disconnect(connection);
    return value;
}

bool showsVariant(QWidget& window, const std::string& variant) {
    return QTest::qWaitFor([&] { return themeVariant(window) == variant; }, kDeadlineMs);
}

TEST(TitleBar, FollowsTheSchemeOfRegisteredWindows) {
    QKVTheme* theme = QKVTheme::instance();
    qputenv("KVPORTAL_COLOR_SCHEME", "light");
    QWidget window;
    theme->registerWindow(&window);
    window.show();
    EXPECT_TRUE(showsVariant(window, "light")) << themeVariant(window);

    qputenv("KVPORTAL_COLOR_SCHEME", "dark");
    emit theme->signalThemeChanged();
    EXPECT_TRUE(showsVariant(window, "dark")) << themeVariant(window);
}

TEST(TitleBar, MessageBoxGetsTheDarkTitleBar) {
    QKVTheme* theme = QKVTheme::instance();
    qputenv("KVPORTAL_COLOR_SCHEME", "dark");
    bool dark = false;
    theme->setMessageBoxAnswerer([&dark](QMessageBox& box) {
        box.show();
        dark = showsVariant(box, "dark");
        return QMessageBox::Ok;
    });
    theme->showMessageBox(nullptr, QStringLiteral("Kelmora Portal"), QStringLiteral("Cannot exit."),
                          QMessageBox::Warning, QMessageBox::Ok);
    theme->setMessageBoxAnswerer(nullptr);
    EXPECT_TRUE(dark);
}

} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // A server of its own on a display number it picks and reports.
    QProcess server;
    server.setProgram(QStringLiteral("Xvfb"));
    server.setArguments({QStringLiteral("-displayfd"), QStringLiteral("1"),
                         QStringLiteral("-screen"), QStringLiteral("0"),
                         QStringLiteral("800x600x24"), QStringLiteral("-nolisten"),
                         QStringLiteral("tcp")});
    server.start();
    if (!server.waitForReadyRead(kDeadlineMs)) {
        std::fprintf(stderr, "Xvfb did not start\n");
        return 1;
    }
    qputenv("DISPLAY", ":" + server.readLine().trimmed());
    qputenv("QT_QPA_PLATFORM", "xcb");

    int result = 1;
    {
        QApplication app(argc, argv);
        QKVTheme::instance()->initialize(&app);
        result = RUN_ALL_TESTS();
    }
    server.terminate();
    server.waitForFinished();
    return result;
}
