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

// A Dante twin shows its device's logo; some logos have a variant per scheme, the others serve
// both; an unknown product has an empty picture.
TEST_F(ManagerPixmaps, EachProductShowsItsLogoForTheScheme) {
    const struct {
        const char* code;
        const char* scheme;
        const char* resource;
    } cases[] = {
        {"KORVEX-FIRMWARE", "light", ":/KORVEX-FIRMWARE"},
        {"KORVEX-FIRMWARE-DANTE", "light", ":/KORVEX-FIRMWARE"},
        {"KORVEX-REMOTE-CONTROLLER", "light", ":/KORVEX-REMOTE-CONTROLLER-LIGHT"},
        {"KORVEX-REMOTE-CONTROLLER", "dark", ":/KORVEX-REMOTE-CONTROLLER-DARK"},
        {"VORNET", "light", ":/VORNET"},
        {"VORNET", "dark", ":/VORNET"},
        {"NO-SUCH-PRODUCT", "dark", nullptr},
    };
    for (const auto& c : cases) {
        qputenv("KVPORTAL_COLOR_SCHEME", c.scheme);
        QPixmap* logo = manager.productPixmap(c.code);
        ASSERT_NE(logo, nullptr) << c.code;
        if (c.resource == nullptr) {
            EXPECT_TRUE(logo->isNull()) << c.code;
            continue;
        }
        EXPECT_EQ(logo->size(), QSize(96, 96)) << c.code;
        EXPECT_EQ(logo->toImage(), resourceImage(c.resource, 96)) << c.code << " " << c.scheme;
    }
}

// Rendered once per scheme, and for a twin as for its device.
TEST_F(ManagerPixmaps, LogosAreCachedPerSchemeAndFollowTheScale) {
    QPixmap* device = manager.productPixmap("KORVEX-FIRMWARE");
    EXPECT_EQ(manager.productPixmap("KORVEX-FIRMWARE-DANTE"), device);
    EXPECT_EQ(manager.productPixmap("KORVEX-FIRMWARE"), device);
    QPixmap* light = manager.productPixmap("VORNET");
    qputenv("KVPORTAL_COLOR_SCHEME", "dark");
    QPixmap* dark = manager.productPixmap("VORNET");
    EXPECT_NE(dark, light);
    EXPECT_EQ(manager.productPixmap("VORNET"), dark);
    qputenv("KVPORTAL_COLOR_SCHEME", "light");
    EXPECT_EQ(manager.productPixmap("VORNET"), light);

    kv::portal::setUiScale(1.5f);
    EXPECT_EQ(manager.productPixmap("PELRA-FIRMWARE")->size(), QSize(144, 144));
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
