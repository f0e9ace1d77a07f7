#include "platform/qt/TitleBar.h"

#include <QGuiApplication>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace kv::platform {
namespace {

// A window Qt has only just created may not have reached the X server yet; try again after the
// event loop has turned, a few times.
constexpr int kAttempts = 5;
constexpr int kRetryDelayMs = 50;

struct Connection {
    xcb_connection_t* connection = nullptr;
    xcb_atom_t variant = XCB_ATOM_NONE;
    xcb_atom_t utf8String = XCB_ATOM_NONE;

    Connection() = default;
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    ~Connection() {
        if (connection) {
            xcb_disconnect(connection);
        }
    }
};

xcb_atom_t internAtom(xcb_connection_t* connection, const char* name) {
    const xcb_intern_atom_cookie_t cookie =
        xcb_intern_atom(connection, 0, static_cast<uint16_t>(std::strlen(name)), name);
    std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
        xcb_intern_atom_reply(connection, cookie, nullptr), &std::free);
    return reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
}

// A connection of our own to the display Qt uses: Qt 5 keeps its own out of the public API.
Connection* display() {
    static Connection shared;
    static const bool usable = [] {
        shared.connection = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(shared.connection)) {
            return false;
        }
        shared.variant = internAtom(shared.connection, "_GTK_THEME_VARIANT");
        shared.utf8String = internAtom(shared.connection, "UTF8_STRING");
        return shared.variant != XCB_ATOM_NONE && shared.utf8String != XCB_ATOM_NONE;
    }();
    return usable ? &shared : nullptr;
}

bool setVariant(Connection* x, xcb_window_t window, bool dark) {
    const char* value = dark ? "dark" : "light";
    const xcb_void_cookie_t cookie = xcb_change_property_checked(
        x->connection, XCB_PROP_MODE_REPLACE, window, x->variant, x->utf8String, 8,
        static_cast<uint32_t>(std::strlen(value)), value);
    std::unique_ptr<xcb_generic_error_t, decltype(&std::free)> error(
        xcb_request_check(x->connection, cookie), &std::free);
    return !error;
}

void apply(QPointer<QWidget> window, bool dark, int attemptsLeft) {
    Connection* x = display();
    if (!window || !x) {
        return;
    }
    if (setVariant(x, static_cast<xcb_window_t>(window->winId()), dark) || attemptsLeft <= 1) {
        return;
    }
    QTimer::singleShot(kRetryDelayMs, window,
                       [window, dark, attemptsLeft] { apply(window, dark, attemptsLeft - 1); });
}

} // namespace

void setDarkTitleBar(QWidget* window, bool dark) {
    if (!window || QGuiApplication::platformName() != QLatin1String("xcb")) {
        return;
    }
    apply(QPointer<QWidget>(window->window()), dark, kAttempts);
}

} // namespace kv::platform
