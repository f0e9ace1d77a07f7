#include "DeviceSimulator.h"
#include "RecordingListener.h"
#include "WindowFixture.h"
#include "ui/UiScale.h"
#include "ui/window/Central.h"
#include "ui/window/Group.h"
#include "ui/window/GroupTitle.h"
#include "ui/window/Tabs.h"

#include <QTest>

#include <set>

using namespace kv::portal;
using kv::test::DeviceSimulator;

namespace {

class Groups : public kv::test::WindowTest {
protected:
    Window::Group* group(int index) const { return window->central()->groups().at(index); }
    int rowsIn(int index) const { return static_cast<int>(group(index)->rows().size()); }
    Window::Tabs* tabsOf(const std::string& name) const {
        return row(name) ? qobject_cast<Window::Tabs*>(row(name)->parentWidget()) : nullptr;
    }
    static void clickAt(QWidget* widget, int x, int y, Qt::MouseButton button = Qt::LeftButton) {
        QTest::mouseClick(widget, button, {}, QPoint(scaled(x), scaled(y)));
    }

    // The list as the user reads it: each shown group's title and the products in its rows.
    std::map<QString, std::set<std::string>> shownGroups() const {
        std::map<QString, std::set<std::string>> shown;
        for (Window::Group* g : window->central()->groups()) {
            for (Window::ProductBase* r : g->rows()) {
                if (g->isVisible()) {
                    shown[g->title()->text()].insert(r->currentProduct()->name);
                }
            }
        }
        return shown;
    }

    // Adds a device without waiting for its probe; then waits for it.
    void addSlowly(const DeviceSimulator& device, const std::string& name) {
        kv::test::RecordingListener probes;
        core->addListener(&probes);
        ASSERT_TRUE(core->addProduct(code::VESK_III_FIRMWARE, name, device.address(), {}));
        QCoreApplication::processEvents();
        EXPECT_EQ(tabsOf(name), nullptr) << "listed before its serial and twin are known";
        ASSERT_TRUE(probes.waitFor("probed " + name));
        core->removeListener(&probes);
        QCoreApplication::processEvents();
    }
};

// A kind is the identity of its code constant, not its text.
TEST_F(Groups, EachFamilyShowsUnderItsTitleAndThisProgramInTheListItself) {
    static const char lookalike[] = "KORVEX-FIRMWARE";
    addProduct(lookalike, "stranger");
    addProduct(code::PELRA_FIRMWARE, "Pelra");
    showWindow();
    EXPECT_EQ(shownGroups().size(), 1u) << "only a group that has a product shows";
    for (const ProductCode kind :
         {code::KORVEX_FIRMWARE, code::KORVEX_FIRMWARE_DANTE, code::KORVEX_REMOTE_CONTROLLER,
          code::RX48_FIRMWARE, code::RX48_FIRMWARE_DANTE, code::RX48_TOOLKIT_CONTROLLER,
          code::VESK_FIRMWARE, code::VORAVERI_FIRMWARE, code::VORAVERI_FIRMWARE_DANTE,
          code::VESK_III_FIRMWARE, code::VESK_III_FIRMWARE_DANTE, code::KVDISCOVERY, code::VORNET,
          code::KVPORTAL}) {
        addProduct(kind, kind);
    }
    const std::map<QString, std::set<std::string>> expected{
        {"KELMORA+KORVEX",
         {"KORVEX-FIRMWARE", "KORVEX-FIRMWARE-DANTE", "KORVEX-REMOTE-CONTROLLER",
          "Korvex Remote Controllers"}},
        {"RX48",
         {"RX48 Toolkit", "RX48-FIRMWARE", "RX48-FIRMWARE-DANTE", "RX48-TOOLKIT-CONTROLLER"}},
        {"KELMORA+VESK",
         {"VESK-FIRMWARE", "VORAVERI-FIRMWARE", "VORAVERI-FIRMWARE-DANTE", "VESK-III-FIRMWARE",
          "VESK-III-FIRMWARE-DANTE"}},
        {"KELMORA+PELRA", {"Pelra"}},
        {"KELMORA NETWORKING TOOLS", {"KVDISCOVERY", "VORNET"}},
    };
    EXPECT_EQ(shownGroups(), expected);
    EXPECT_EQ(row("KVPORTAL")->parentWidget(), child("productList"));
    EXPECT_EQ(row("stranger"), nullptr);
    removeProduct("Pelra");
    EXPECT_TRUE(group(3)->isVisible()) << "a group once shown stays";
}

// One row with a tab per mode, open on the mode the device runs; only a left press in the
// header's tabs switches.
TEST_F(Groups, ADanteCapableDeviceHasATabPerModeOpenOnTheModeItRuns) {
    DeviceSimulator::Options options;
    options.danteCapable = true;
    DeviceSimulator ravenna(options);
    options.serial = "KV-D";
    options.danteRunning = true;
    DeviceSimulator dante(options);
    showWindow();
    addProduct(code::RX48_FIRMWARE, "Desk", ravenna.address());
    addProduct(code::RX48_FIRMWARE, "Stage", dante.address());
    EXPECT_EQ(rowsIn(1), 3) << "two devices and their companion";
    for (const std::string name : {"Desk", "Stage"}) {
        Window::Tabs* tabs = tabsOf(name);
        ASSERT_NE(tabs, nullptr) << name;
        EXPECT_EQ(QStringList({tabs->tabTitle(0), tabs->tabTitle(1), tabs->tabTitle(2)}),
                  QStringList({"RAVENNA AES67", "Dante", ""}));
        EXPECT_EQ(tabs->product(0)->name + "|" + tabs->product(1)->name, name + "|dante_" + name);
        const int open = name == "Stage" ? 1 : 0;
        EXPECT_EQ(tabs->currentTab(), open) << name;
        EXPECT_TRUE(tabs->row(open)->isVisible() && !tabs->row(1 - open)->isVisible()) << name;
        EXPECT_TRUE(QTest::qWaitFor([&] { return tabs->height() == scaled(24) + scaled(110); }));
    }

    Window::Tabs* tabs = tabsOf("Desk");
    clickAt(tabs, 150, 30);
    clickAt(tabs, 250, 10);
    clickAt(tabs, 150, 10, Qt::RightButton);
    EXPECT_EQ(tabs->currentTab(), 0) << "below the header, right of the tabs, right button";
    clickAt(tabs, 150, 10);
    EXPECT_EQ(tabs->currentTab(), 1);
    EXPECT_TRUE(tabs->row(1)->isVisible() && !tabs->row(0)->isVisible());
    EXPECT_EQ(tabs->currentProduct()->name, "dante_Desk");
    EXPECT_EQ(tabs->currentRow()->geometry(), QRect(0, scaled(24), tabs->width(), scaled(110)));
    clickAt(tabs, 99, 24);
    EXPECT_EQ(tabs->currentTab(), 0);
}

// Until its answers come, a device is listed in a row of its own, which then gives way to the
// row with both tabs, or to the row of the device with the same serial under another name.
TEST_F(Groups, ADeviceIsKnownByItsSerialOnceItAnswers) {
    DeviceSimulator::Options options;
    options.danteCapable = true;
    options.behaviour = R"({"status_service": "trickle", "trickle_bytes_per_s": 50})";
    DeviceSimulator device(options);
    showWindow();
    addSlowly(device, "Stage left");
    Window::Tabs* tabs = tabsOf("Stage left");
    ASSERT_NE(tabs, nullptr);
    EXPECT_EQ(rowsIn(2), 1);
    EXPECT_EQ(tabs->product(1), core->findProduct("dante_Stage left"));
    removeProduct("Stage left");
    EXPECT_FALSE(tabs->isVisible());

    addSlowly(device, "Stage right");
    const ProductPtr renamed = core->findProduct("Stage right");
    EXPECT_EQ(rowsIn(2), 1);
    EXPECT_EQ(tabs->product(0), renamed);
    EXPECT_EQ(tabs->product(1), renamed->twin.get());
    EXPECT_TRUE(tabs->isVisible());
}

// A device that returns comes back in its old row; folded, it stays folded with its group.
TEST_F(Groups, AFoldedGroupHidesItsRowsWhateverComesAndGoes) {
    showWindow();
    addProduct(code::VORNET, "VORNET");
    addProduct(code::KVDISCOVERY, "KVDiscovery");
    Window::Product* vornet = row("VORNET");
    Window::Product* discovery = row("KVDiscovery");
    Window::Group::Title* title = group(4)->title();
    removeProduct("KVDiscovery");
    EXPECT_FALSE(discovery->isVisible());
    clickAt(title, 30, 5, Qt::RightButton);
    EXPECT_TRUE(title->isExpanded() && vornet->isVisible());
    clickAt(title, 30, 5);
    EXPECT_FALSE(title->isExpanded() || vornet->isVisible());

    const ProductPtr returned = addProduct(code::KVDISCOVERY, "KVDiscovery");
    EXPECT_EQ(row("KVDiscovery"), discovery);
    addProduct(code::KVDISCOVERY, "KVDiscovery 2");
    removeProduct("VORNET");
    EXPECT_FALSE(discovery->isVisible() || row("KVDiscovery 2")->isVisible());

    clickAt(title, 30, 5);
    EXPECT_TRUE(title->isExpanded());
    EXPECT_TRUE(discovery->isVisible() && row("KVDiscovery 2")->isVisible());
    EXPECT_EQ(discovery->currentProduct(), returned);
    EXPECT_FALSE(vornet->isVisible()) << "went away while folded";
    addProduct(code::VORNET, "VORNET");
    EXPECT_TRUE(vornet->isVisible());
    EXPECT_EQ(rowsIn(4), 3);
}

} // namespace
