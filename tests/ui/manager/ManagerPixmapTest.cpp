// The pictures the manager serves the window: product logos per colour scheme, and theme
// images at the interface's scale, each rendered once and then served from its cache.

#include "ManagerEnvironment.h"
#include "ui/UiScale.h"
#include "ui/manager/Manager.h"

#include <QApplication>
#include <QIcon>
#include <QImage>

#include <gtest/gtest.h>

namespace {

using kv::portal::Manager;

kv::test::ManagerEnvironment& environment() {
    static kv::test::ManagerEnvironment instance;
    return instance;
}

class ManagerPixmaps : public ::testing::Test {
protected:
    void SetUp() override { qputenv("KVPORTAL_COLOR_SCHEME", "light"); }
    void TearDown() override {
        qputenv("KVPORTAL_COLOR_SCHEME", "light");
        kv::portal::setUiScale(1.0f);
    }

    static QImage resourceImage(const char* name, int side) {
        return QIcon(QString::fromLatin1(name)).pixmap(side, side).toImage();
    }

    Manager manager;
};

TEST_F(ManagerPixmaps, DanteTwinShowsItsDevicesLogo) {
    QPixmap* device = manager.productPixmap("KORVEX-FIRMWARE");
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(manager.productPixmap("KORVEX-FIRMWARE-DANTE"), device);
    EXPECT_EQ(manager.productPixmap("KORVEX-FIRMWARE"), device) << "rendered once";
    EXPECT_EQ(device->size(), QSize(96, 96));
    EXPECT_EQ(device->toImage(), resourceImage(":/KORVEX-FIRMWARE", 96));
}

TEST_F(ManagerPixmaps, LogoSizeFollowsTheScale) {
    kv::portal::setUiScale(1.5f);
    EXPECT_EQ(manager.productPixmap("PELRA-FIRMWARE")->size(), QSize(144, 144));
}

TEST_F(ManagerPixmaps, SchemeVariantsAreCachedPerScheme) {
    QPixmap* light = manager.productPixmap("KORVEX-REMOTE-CONTROLLER");
    ASSERT_NE(light, nullptr);
    EXPECT_EQ(light->toImage(), resourceImage(":/KORVEX-REMOTE-CONTROLLER-LIGHT", 96));

    qputenv("KVPORTAL_COLOR_SCHEME", "dark");
    QPixmap* dark = manager.productPixmap("KORVEX-REMOTE-CONTROLLER");
    ASSERT_NE(dark, nullptr);
    EXPECT_NE(dark, light);
    EXPECT_EQ(dark->toImage(), resourceImage(":/KORVEX-REMOTE-CONTROLLER-DARK", 96));
    EXPECT_EQ(manager.productPixmap("KORVEX-REMOTE-CONTROLLER"), dark);

    qputenv("KVPORTAL_COLOR_SCHEME", "light");
    EXPECT_EQ(manager.productPixmap("KORVEX-REMOTE-CONTROLLER"), light);
}

TEST_F(ManagerPixmaps, OneLogoServesBothSchemes) {
    QPixmap* light = manager.productPixmap("VORNET");
    qputenv("KVPORTAL_COLOR_SCHEME", "dark");
    QPixmap* dark = manager.productPixmap("VORNET");
    EXPECT_NE(dark, light) << "each scheme has its own cache";
    EXPECT_EQ(dark->toImage(), light->toImage());
}

TEST_F(ManagerPixmaps, MissingLogoIsAnEmptyPixmap) {
    QPixmap* missing = manager.productPixmap("NO-SUCH-PRODUCT");
    ASSERT_NE(missing, nullptr);
    EXPECT_TRUE(missing->isNull());
}

TEST_F(ManagerPixmaps, ThemeImageIsScaledAndCachedByNameAlone) {
    kv::portal::setUiScale(1.5f);
    QPixmap* arrow = manager.themePixmap("theme_arrow_down", 16, 16);
    ASSERT_NE(arrow, nullptr);
    EXPECT_EQ(arrow->size(), QSize(24, 24));
    EXPECT_EQ(arrow->toImage(), resourceImage(":/theme_arrow_down", 24));
    EXPECT_EQ(manager.themePixmap("theme_arrow_down", 32, 32), arrow);
    EXPECT_EQ(arrow->size(), QSize(24, 24));

    qputenv("KVPORTAL_COLOR_SCHEME", "dark");
    EXPECT_EQ(manager.themePixmap("theme_arrow_down", 16, 16), arrow) << "the scheme plays no part";
    EXPECT_NE(manager.themePixmap("theme_arrow_up", 16, 16), arrow);
}

} // namespace

int main(int argc, char** argv) {
    environment();
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
