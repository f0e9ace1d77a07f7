#include "PrivateSessionBus.h"
#include "TempDir.h"
#include "ui/theme/QKVTheme.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>

// The application object comes first; the window's tests share it. Each test program has a
// temporary folder of its own, which also keeps its single-instance block apart from other
// programs, and a session bus of its own.
int main(int argc, char** argv) {
    // Static, so that it outlives the single-instance block, which is removed at exit.
    static kv::test::TempDir temporary;
    ::setenv("TMPDIR", temporary.path().c_str(), 1);
    ::setenv("KVPORTAL_COLOR_SCHEME", "light", 0);
    kv::test::PrivateSessionBus bus;
    ::setenv("DBUS_SESSION_BUS_ADDRESS", bus.address().c_str(), 1);

    QApplication app(argc, argv);
    kv::portal::QKVTheme::instance()->initialize(&app);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
