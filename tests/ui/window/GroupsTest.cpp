#include "DeviceSimulator.h"
#include "RecordingListener.h"
#include "WindowFixture.h"
#include "ui/UiScale.h"
#include "ui/window/Central.h"
#include "ui/window/Group.h"
#include "ui/window/GroupTitle.h"
#include "ui/window/ProductRow.h"
#include "ui/window/Tabs.h"

#include <QCoreApplication>
#include <QLayout>
#include <QTest>

#include <map>
#include <set>
#include <string>

using namespace kv::portal;
using kv::test::DeviceSimulator;

namespace {

class Groups : public kv::test::WindowTest {
protected:
    int rowsIn(int index) const { return static_cast<int>(group(index)->rows().size()); }

    Window::Tabs* tabsOf(const std::string& name) const {
        Window::Product* tabRow = row(name);
        return tabRow != nullptr ? qobject_cast<Window::Tabs*>(tabRow->parentWidget()) : nullptr;
    }

    static void clickAt(QWidget* widget, int x, int y) {
        QTest::mouseClick(widget, Qt::LeftButton, Qt::NoModifier, QPoint(x, y));
    }
};

// The list as the user reads it: each shown group's title and the products in its rows.
std::map<QString, std::set<std::string>> shownGroups(Window* window) {
    std::map<QString, std::set<std::string>> shown;
    for (Window::Group* group : window->central()->groups()) {
        if (group->isVisible()) {
            std::set<std::string>& names = shown[group->title()->text()];
            for (Window::ProductBase* row : group->rows()) {
                names.insert(row->currentProduct()->name);
            }
        }
    }
    return shown;
}

TEST_F(Groups, EachFamilyShowsUnderItsTitleAndThisProgramInTheListItself) {
    showWindow();
    EXPECT_TRUE(window->central()->groups().empty());
    addProduct(code::PELRA_FIRMWARE, "Pelra");
    EXPECT_EQ(window->central()->groups().size(), 5u);
    EXPECT_EQ(shownGroups(window).size(), 1u) << "only the group that has a product shows";

    for (const ProductCode kind :
         {code::KORVEX_FIRMWARE_DANTE, code::KORVEX_REMOTE_CONTROLLER, code::RX48_FIRMWARE,
          code::RX48_FIRMWARE_DANTE, code::RX48_TOOLKIT_CONTROLLER, code::VESK_FIRMWARE,
          code::VORAVERI_FIRMWARE, code::VORAVERI_FIRMWARE_DANTE, code::VESK_III_FIRMWARE,
          code::VESK_III_FIRMWARE_DANTE, code::KVDISCOVERY, code::VORNET, code::KVPORTAL}) {
        addProduct(kind, kind);
    }
    addProduct(code::KORVEX_FIRMWARE, "Korvex");
    const std::map<QString, std::set<std::string>> expected{
        {"KELMORA+KORVEX",
         {"Korvex", "KORVEX-FIRMWARE-DANTE", "KORVEX-REMOTE-CONTROLLER",
          "Korvex Remote Controllers"}},
        {"RX48",
         {"RX48 Toolkit", "RX48-FIRMWARE", "RX48-FIRMWARE-DANTE", "RX48-TOOLKIT-CONTROLLER"}},
        {"KELMORA+VESK",
         {"VESK-FIRMWARE", "VORAVERI-FIRMWARE", "VORAVERI-FIRMWARE-DANTE", "VESK-III-FIRMWARE",
          "VESK-III-FIRMWARE-DANTE"}},
        {"KELMORA+PELRA", {"Pelra"}},
        {"KELMORA NETWORKING TOOLS", {"KVDISCOVERY", "VORNET"}},
    };
    EXPECT_EQ(shownGroups(window), expected);
    ASSERT_NE(row("KVPORTAL"), nullptr);
    EXPECT_EQ(row("KVPORTAL")->parentWidget(), child("productList"));

    removeProduct("Pelra");
    EXPECT_TRUE(group(3)->isVisible()) << "a group once shown stays";
}

TEST_F(Groups, AKindIsItsCodeConstantNotItsText) {
    static const char lookalike[] = "KORVEX-FIRMWARE";
    showWindow();
    addProduct(lookalike, "stranger");
    EXPECT_EQ(row("stranger"), nullptr);
    EXPECT_EQ(window->findChildren<Window::Product*>().size(), 0u);
}

TEST_F(Groups, ADanteCapableDeviceGetsOneTabsRowOpenOnTheModeItRuns) {
    for (const bool danteRunning : {false, true}) {
        DeviceSimulator::Options options;
        options.serial = danteRunning ? "KV-D" : "KV-R";
        options.danteCapable = true;
        options.danteRunning = danteRunning;
        DeviceSimulator device(options);
        const std::string name = danteRunning ? "Korvex in Dante" : "Korvex in RAVENNA";
        showWindow();
        addProduct(code::KORVEX_FIRMWARE, name, device.address());

        Window::Tabs* tabs = tabsOf(name);
        ASSERT_NE(tabs, nullptr) << name;
        ASSERT_EQ(tabs->count(), 2);
        EXPECT_EQ(tabs->tabTitle(0), QStringLiteral("RAVENNA AES67"));
        EXPECT_EQ(tabs->tabTitle(1), QStringLiteral("Dante"));
        EXPECT_EQ(tabs->product(0)->name, name);
        EXPECT_EQ(tabs->product(1)->name, "dante_" + name);
        EXPECT_EQ(tabs->currentTab(), danteRunning ? 1 : 0) << name;
        EXPECT_TRUE(tabs->currentRow()->isVisible());
        EXPECT_FALSE(tabs->row(danteRunning ? 0 : 1)->isVisible());
        EXPECT_TRUE(QTest::qWaitFor([&] { return tabs->height() == scaled(24) + scaled(110); }));
        EXPECT_EQ(tabs->currentRow()->geometry(), QRect(0, scaled(24), tabs->width(), scaled(110)));
        removeProduct(name);
        delete window;
        window = nullptr;
    }
}

TEST_F(Groups, TabsSwitchOnAPressInTheirHeaderOnly) {
    DeviceSimulator::Options options;
    options.danteCapable = true;
    DeviceSimulator device(options);
    showWindow();
    addProduct(code::RX48_FIRMWARE, "RX 48 desk", device.address());
    Window::Tabs* tabs = tabsOf("RX 48 desk");
    ASSERT_NE(tabs, nullptr);
    ASSERT_EQ(tabs->currentTab(), 0);

    clickAt(tabs, scaled(150), scaled(30));
    EXPECT_EQ(tabs->currentTab(), 0) << "below the header";
    clickAt(tabs, scaled(250), scaled(10));
    EXPECT_EQ(tabs->currentTab(), 0) << "right of the last tab";
    QTest::mouseClick(tabs, Qt::RightButton, Qt::NoModifier, QPoint(scaled(150), scaled(10)));
    EXPECT_EQ(tabs->currentTab(), 0) << "right button";

    clickAt(tabs, scaled(150), scaled(10));
    EXPECT_EQ(tabs->currentTab(), 1);
    EXPECT_TRUE(tabs->row(1)->isVisible());
    EXPECT_FALSE(tabs->row(0)->isVisible());
    EXPECT_EQ(tabs->currentProduct()->name, "dante_RX 48 desk");

    clickAt(tabs, scaled(99), scaled(24));
    EXPECT_EQ(tabs->currentTab(), 0);
}

TEST_F(Groups, ADeviceThatReturnsComesBackInItsOldRow) {
    showWindow();
    const ProductPtr first = addProduct(code::VESK_III_FIRMWARE, "Vesk III");
    Window::Product* oldRow = row("Vesk III");
    ASSERT_NE(oldRow, nullptr);

    removeProduct("Vesk III");
    EXPECT_TRUE(oldRow->hidden);
    EXPECT_FALSE(oldRow->isVisible());

    const ProductPtr second = addProduct(code::VESK_III_FIRMWARE, "Vesk III");
    ASSERT_NE(first, second);
    EXPECT_EQ(rowsIn(2), 1);
    EXPECT_EQ(row("Vesk III"), oldRow);
    EXPECT_EQ(oldRow->currentProduct(), second);
    EXPECT_FALSE(oldRow->hidden);
    EXPECT_TRUE(oldRow->isVisible());
}

TEST_F(Groups, ADeviceThatReturnsUnderAnotherNameIsKnownByItsSerial) {
    DeviceSimulator::Options options;
    options.serial = "KV7007";
    options.danteCapable = true;
    DeviceSimulator device(options);
    showWindow();
    addProduct(code::VESK_III_FIRMWARE, "Stage left", device.address());
    Window::Tabs* tabs = tabsOf("Stage left");
    ASSERT_NE(tabs, nullptr);
    removeProduct("Stage left");
    EXPECT_FALSE(tabs->isVisible());

    // Slow answers: the device is listed under its new name before its serial is known, and
    // that row gives way once the serial comes.
    device.configure(R"({"status_service": "trickle", "trickle_bytes_per_s": 50})");
    kv::test::RecordingListener probes;
    core->addListener(&probes);
    ASSERT_TRUE(core->addProduct(code::VESK_III_FIRMWARE, "Stage right", device.address(), {}));
    QCoreApplication::processEvents();
    ASSERT_TRUE(probes.waitFor("probed Stage right"));
    core->removeListener(&probes);
    QCoreApplication::processEvents();
    const ProductPtr renamed = core->findProduct("Stage right");
    EXPECT_EQ(rowsIn(2), 1);
    EXPECT_EQ(tabs->product(0), renamed);
    EXPECT_EQ(tabs->product(1), renamed->twin.get());
    EXPECT_TRUE(tabs->isVisible());
}

TEST_F(Groups, ARowListedBeforeTheTwinIsKnownTakesTheTwinsTab) {
    DeviceSimulator::Options options;
    options.danteCapable = true;
    options.behaviour = R"({"status_service": "trickle", "trickle_bytes_per_s": 50})";
    DeviceSimulator device(options);
    showWindow();
    kv::test::RecordingListener probes;
    core->addListener(&probes);
    ASSERT_TRUE(core->addProduct(code::VESK_III_FIRMWARE, "Stage", device.address(), {}));
    QCoreApplication::processEvents();
    EXPECT_EQ(tabsOf("Stage"), nullptr);
    ASSERT_TRUE(probes.waitFor("probed Stage"));
    core->removeListener(&probes);
    QCoreApplication::processEvents();

    EXPECT_EQ(rowsIn(2), 1);
    Window::Tabs* tabs = tabsOf("Stage");
    ASSERT_NE(tabs, nullptr);
    EXPECT_EQ(tabs->product(1), core->findProduct("dante_Stage"));
}

TEST_F(Groups, AFoldedGroupHidesItsRowsAndAReturningDeviceStaysFoldedWithThem) {
    showWindow();
    addProduct(code::VORNET, "VORNET");
    addProduct(code::KVDISCOVERY, "KVDiscovery");
    Window::Product* vornet = row("VORNET");
    Window::Product* discovery = row("KVDiscovery");
    Window::Group::Title* title = group(4)->title();

    removeProduct("KVDiscovery");
    clickAt(title, scaled(30), scaled(5));
    EXPECT_FALSE(title->isExpanded());
    EXPECT_FALSE(vornet->isVisible());
    EXPECT_FALSE(discovery->isVisible());

    addProduct(code::KVDISCOVERY, "KVDiscovery");
    EXPECT_EQ(row("KVDiscovery"), discovery);
    EXPECT_FALSE(discovery->isVisible()) << "returned while folded";
    addProduct(code::KVPORTAL, "KVPortal");
    addProduct(code::KORVEX_REMOTE_CONTROLLER, "unrelated");
    removeProduct("VORNET");

    clickAt(title, scaled(30), scaled(5));
    EXPECT_TRUE(title->isExpanded());
    EXPECT_TRUE(discovery->isVisible());
    EXPECT_FALSE(vornet->isVisible()) << "went away while folded";

    addProduct(code::VORNET, "VORNET");
    EXPECT_EQ(row("VORNET"), vornet);
    EXPECT_TRUE(vornet->isVisible());
}

TEST_F(Groups, ARowCreatedInAFoldedGroupStaysFolded) {
    showWindow();
    addProduct(code::PELRA_FIRMWARE, "Pelra 1");
    QTest::mouseClick(group(3)->title(), Qt::LeftButton);
    addProduct(code::PELRA_FIRMWARE, "Pelra 2");
    ASSERT_NE(row("Pelra 2"), nullptr);
    EXPECT_FALSE(row("Pelra 2")->isVisible());
    QTest::mouseClick(group(3)->title(), Qt::LeftButton);
    EXPECT_TRUE(row("Pelra 2")->isVisible());
}

TEST_F(Groups, ProductsKnownBeforeTheWindowGetTheirRows) {
    addProduct(code::PELRA_FIRMWARE, "Pelra 1");
    addProduct(code::KVPORTAL, "KVPortal");
    showWindow();
    EXPECT_NE(row("Pelra 1"), nullptr);
    EXPECT_NE(row("KVPortal"), nullptr);
    EXPECT_TRUE(group(3)->isVisible());
}

} // namespace
