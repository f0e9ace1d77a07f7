#include "DeviceSimulator.h"
#include "WindowFixture.h"
#include "ui/UiScale.h"
#include "ui/window/ProductRow.h"
#include "ui/window/Tabs.h"

#include <QImage>
#include <QLabel>
#include <QProgressBar>
#include <QRegularExpression>
#include <QTest>

using namespace kv::portal;

namespace {

// What a row offers for one status: the status line, the links and the progress bar.
struct Expected {
    uint32_t status;
    int32_t errorCode;
    const char* text;
    // Null: the action link is hidden.
    const char* actionHref;
    const char* actionText;
    bool downloadOnly;
    bool releaseNotes;
    bool progress;
};

class ProductRowStatus : public kv::test::WindowTest {
protected:
    ProductRowStatus() { showWindow(); }

    // Sets the status from a different one, so that the row hears of a change.
    void setStatus(const ProductPtr& product, uint32_t status, int32_t errorCode = 0) {
        product->errorCode = errorCode;
        core->setStatus(product, status == NoCloudInformation ? None : NoCloudInformation);
        core->setStatus(product, status);
    }

    static QString visibleText(QLabel* label) {
        QString text = label->text();
        text.remove(QRegularExpression(QStringLiteral("<[^>]*>")));
        return text;
    }

    void expectRow(const std::string& name, const Expected& expected) {
        Window::Product* productRow = row(name);
        ASSERT_NE(productRow, nullptr);
        const std::string where = name + " status " + std::to_string(expected.status);
        EXPECT_EQ(productRow->statusText(), QString::fromUtf8(expected.text)) << where;
        QLabel* action = link(productRow, "actionLink");
        EXPECT_EQ(action->isVisible(), expected.actionHref != nullptr) << where;
        if (expected.actionHref != nullptr) {
            EXPECT_EQ(href(action), QString::fromUtf8(expected.actionHref)) << where;
            EXPECT_EQ(visibleText(action), QString::fromUtf8(expected.actionText)) << where;
        }
        EXPECT_EQ(link(productRow, "downloadLink")->isVisible(), expected.downloadOnly) << where;
        EXPECT_EQ(link(productRow, "releaseNotesLink")->isVisible(), expected.releaseNotes)
            << where;
        EXPECT_EQ(productRow->findChild<QProgressBar*>(QStringLiteral("progress"))->isVisible(),
                  expected.progress)
            << where;
    }

    static QColor pixel(QWidget* widget, int x, int y) {
        return widget->grab().toImage().pixelColor(x, y);
    }
};

TEST_F(ProductRowStatus, EveryStatusOfAnUpdatableDeviceHasItsTextLinksAndProgress) {
    const ProductPtr korvex = addProduct(code::KORVEX_FIRMWARE, "Korvex");
    giveRelease(korvex, "2.0.0b1", "https://notes.kelmora.example/korvex");
    const Expected table[] = {
        {None, 0, "", nullptr, nullptr, false, false, false},
        {UpToDate, 0, "Korvex is up to date", nullptr, nullptr, false, false, false},
        {ReadyToDownload, 0, "Update available", "Update", "Download & Update", true, true, false},
        {ReadyToUpdate, 0, "Update available", "Update", "Update", false, true, false},
        {NoCloudInformation, 0, "Failed to retrieve server information", nullptr, nullptr, false,
         false, false},
        {PendingDownload, 0, "Pending download...", "Cancel", "Cancel", false, false, false},
        {PendingUpdate, 0, "Pending update...", "Cancel", "Cancel", false, false, false},
        {Downloading, 0, "Downloading KORVEX-FIRMWARE-2.0.0b1.bin", "Cancel", "Cancel", false,
         false, true},
        {FirmwareUploading, 0, "Uploading firmware...", nullptr, nullptr, false, false, true},
        {FirmwareUpdating, 0, "Updating firmware...", nullptr, nullptr, false, false, true},
        {DeviceRebooting, 0, "Rebooting device...", nullptr, nullptr, false, false, false},
        {VerifyingMd5, 0, "Verifying downloaded file integrity... ", nullptr, nullptr, false, false,
         false},
        {DownloadError, -11, "Download failed: Cannot verify downloaded file integrity", "Update",
         "Download & Update", true, true, false},
        {DownloadError, 0, "Download failed: Unexpected Error", "Update", "Download & Update", true,
         true, false},
        {DownloadError, 6, "Download failed: Couldn't resolve host name", "Update",
         "Download & Update", true, true, false},
        {FirmwareUpdateRequest, 0, "Requesting firmware update...", nullptr, nullptr, false, false,
         false},
        {FirmwareUpdateError, 0, "Firmware update failed", "Update", "Update", false, true, false},
        {FirmwareUpdateRetrying, 0, "Firmware update failed. Retrying...", nullptr, nullptr, false,
         false, false},
        {ResizingPartitions, 0, "Resizing partitions...", nullptr, nullptr, false, false, true},
        {ProgressUnavailable, 0,
         "Check the device display for update progress.\nAn auto-reboot will be triggered once "
         "the update is completed.",
         nullptr, nullptr, false, false, false},
    };
    for (const Expected& expected : table) {
        setStatus(korvex, expected.status, expected.errorCode);
        expectRow("Korvex", expected);
    }
}

// A device the program cannot update offers the download; this program offers its package
// for elsewhere but not to install it. Then both show the folder.
TEST_F(ProductRowStatus, DownloadOnlyProductsOfferThePackageAndThenItsFolder) {
    giveRelease(addProduct(code::VESK_FIRMWARE, "Vesk"), "3.1.0b2",
                "https://notes.kelmora.example/vesk");
    const ProductPtr portal = addProduct(code::KVPORTAL, "KVPortal");
    ASSERT_TRUE(laidOut(row("KVPortal")));
    giveRelease(portal, "9.0.0b1", "https://notes.kelmora.example/kvportal");
    const std::string firmware = environment.downloadsDir() + "/Firmware";
    const std::string software = environment.downloadsDir() + "/Software";
    const std::pair<const char*, Expected> table[] = {
        {"Vesk",
         {ReadyToDownload, 0, "Update available", "Update", "Download", false, true, false}},
        {"Vesk",
         {DownloadError, -11, "Download failed: Cannot verify downloaded file integrity", "Update",
          "Download", false, true, false}},
        {"Vesk",
         {ReadyToUpdate, 0, "Please install manually. Firmware has been downloaded at",
          "DownloadDirectory", firmware.c_str(), false, true, false}},
        {"Vesk",
         {FirmwareUpdateError, 0, "Firmware update failed", "DownloadDirectory", firmware.c_str(),
          false, true, false}},
        {"KVPortal", {ReadyToDownload, 0, "Update available", nullptr, nullptr, true, true, false}},
        {"KVPortal",
         {DownloadError, 0, "Download failed: Unexpected Error", nullptr, nullptr, true, true,
          false}},
        {"KVPortal",
         {ReadyToUpdate, 0, "Please install manually. Software has been downloaded at",
          "DownloadDirectory", software.c_str(), false, true, false}},
    };
    for (const auto& [name, expected] : table) {
        setStatus(core->findProduct(name), expected.status, expected.errorCode);
        expectRow(name, expected);
    }
}

TEST_F(ProductRowStatus, SoftwareStatusesKeepTheProgressBarAsItWasAndOfferTheInstaller) {
    const ProductPtr vornet = addProduct(code::VORNET, "VORNET");
    giveRelease(vornet, "5.0.0b9");
    setStatus(vornet, ReadyToDownload);
    expectRow("VORNET", {ReadyToDownload, 0, "Update available", "Update", "Download & Update",
                         true, false, false});

    core->setStatus(vornet, Downloading);
    core->setStatus(vornet, SoftwareUpdating);
    expectRow("VORNET",
              {SoftwareUpdating, 0, "Updating software...", nullptr, nullptr, false, false, true});
    core->setStatus(vornet, PendingUpdate);
    core->setStatus(vornet, SoftwareUpdating);
    expectRow("VORNET",
              {SoftwareUpdating, 0, "Updating software...", nullptr, nullptr, false, false, false});

    vornet->errorCode = 1603;
    core->setStatus(vornet, SoftwareUpdaterError);
    expectRow("VORNET", {SoftwareUpdaterError, 1603, "Software update failed: Error code 1603",
                         "ShowDownloadedFile", "Show in Explorer", false, false, false});
}

TEST_F(ProductRowStatus, AnUnknownStatusShowsNoTextAndLeavesTheLinks) {
    const ProductPtr vornet = addProduct(code::VORNET, "VORNET");
    giveRelease(vornet, "5.0.0b9");
    setStatus(vornet, PendingDownload);
    core->setStatus(vornet, 21);
    expectRow("VORNET", {21, 0, "", "Cancel", "Cancel", false, false, false});
}

TEST_F(ProductRowStatus, ARowPaintsItsNameModeAndVersions) {
    const ProductPtr korvex = addProduct(code::KORVEX_FIRMWARE, "Korvex");
    giveRelease(korvex, "2.0.0b1");
    addProduct(code::VORNET, "VORNET", {}, "5.0.0b1");
    addProduct(code::KORVEX_FIRMWARE_DANTE, "dante_Desk dante_2");
    const QString installed = QStringLiteral("Installed version:");
    const QString released = QStringLiteral("Released version:");
    const QString noRelease = QStringLiteral("Failed to retrieve server information");
    const struct {
        const char* name;
        bool running;
        uint32_t status;
        QStringList painted;
    } cases[] = {
        {"Korvex",
         true,
         ReadyToDownload,
         {"Korvex", "(Running)", installed, "1.0.0 b1", released, "2.0.0 b1", "Update available"}},
        {"Korvex",
         false,
         ReadyToDownload,
         {"Korvex", "(Not Running)", installed, "None", released, "2.0.0 b1", "Update available"}},
        {"Korvex",
         true,
         FirmwareUpdating,
         {"Korvex", "(Running)", "Please do not abort the firmware updating process",
          "Updating firmware..."}},
        {"VORNET",
         true,
         NoCloudInformation,
         {"VORNET", installed, "5.0.0 b1", released, "N/A", noRelease}},
        {"dante_Desk dante_2",
         true,
         None,
         {"Desk dante_2", "(Running)", installed, "1.0.0 b1", released, "N/A"}},
    };
    for (const auto& c : cases) {
        const ProductPtr product = core->findProduct(c.name);
        product->running = c.running;
        setStatus(product, c.status);
        EXPECT_EQ(paintedTexts(row(c.name)), c.painted) << c.name << " status " << c.status;
    }
    setStatus(core->findProduct("dante_Desk dante_2"), UpToDate);
    EXPECT_EQ(row("dante_Desk dante_2")->statusText(),
              QStringLiteral("Desk dante_2 is up to date"));
}

TEST_F(ProductRowStatus, LinksStackFromTheBottomInTheirOrder) {
    const ProductPtr korvex = addProduct(code::KORVEX_FIRMWARE, "Korvex");
    giveRelease(korvex, "2.0.0b1", "https://notes.kelmora.example/korvex");
    Window::Product* productRow = row("Korvex");
    ASSERT_TRUE(laidOut(productRow));
    setStatus(korvex, ReadyToDownload);
    const int h = productRow->height();
    const int w = productRow->width();
    EXPECT_EQ(link(productRow, "actionLink")->geometry(),
              QRect(scaled(7), h - scaled(20), w - scaled(14), scaled(20)));
    EXPECT_EQ(link(productRow, "downloadLink")->geometry(),
              QRect(scaled(7), h - 2 * scaled(20), w - scaled(14), scaled(20)));
    EXPECT_EQ(link(productRow, "releaseNotesLink")->geometry(),
              QRect(scaled(7), h - 3 * scaled(20), w - scaled(14), scaled(20)));

    setStatus(korvex, ReadyToUpdate);
    EXPECT_EQ(link(productRow, "releaseNotesLink")->geometry(),
              QRect(scaled(7), h - 2 * scaled(20), w - scaled(14), scaled(20)));
    setStatus(korvex, Downloading);
    EXPECT_EQ(productRow->findChild<QProgressBar*>(QStringLiteral("progress"))->geometry(),
              QRect(scaled(117), h - scaled(20), w / 2, scaled(16)));
}

TEST_F(ProductRowStatus, ARowWithANoticeIsTallerAndSoAreItsTabs) {
    const ProductPtr pelra = addProduct(code::PELRA_FIRMWARE, "Pelra");
    Window::Product* productRow = row("Pelra");
    EXPECT_TRUE(QTest::qWaitFor([&] { return productRow->height() == scaled(110); }));

    pelra->note.set("Note: The released firmware version 4.0.0 b1 will be downloaded and "
                    "installed after the required intermediate versions.");
    setStatus(pelra, ReadyToDownload);
    EXPECT_TRUE(QTest::qWaitFor([&] { return productRow->height() == scaled(131); }));
    pelra->note.set("");
    setStatus(pelra, UpToDate);
    EXPECT_TRUE(QTest::qWaitFor([&] { return productRow->height() == scaled(110); }));

    kv::test::DeviceSimulator::Options options;
    options.danteCapable = true;
    kv::test::DeviceSimulator device(options);
    const ProductPtr korvex = addProduct(code::KORVEX_FIRMWARE, "Korvex", device.address());
    auto* tabs = qobject_cast<Window::Tabs*>(row("Korvex")->parentWidget());
    ASSERT_NE(tabs, nullptr);
    korvex->note.set("Note: intermediate versions first.");
    setStatus(korvex, ReadyToDownload);
    EXPECT_TRUE(QTest::qWaitFor([&] { return tabs->height() == scaled(24) + scaled(131); }));
    EXPECT_EQ(tabs->currentRow()->height(), scaled(131));
}

TEST_F(ProductRowStatus, UpdateAvailableIsMarkedWithAnOrangeDot) {
    const ProductPtr vornet = addProduct(code::VORNET, "VORNET");
    giveRelease(vornet, "5.0.0b9");
    Window::Product* productRow = row("VORNET");
    const QColor orange(255, 127, 39);
    const int x = scaled(118) + scaled(14) / 2;
    const int y = scaled(67) + scaled(1) + scaled(14) / 2;
    ASSERT_TRUE(laidOut(productRow));

    setStatus(vornet, ReadyToDownload);
    EXPECT_EQ(pixel(productRow, x, y), orange);
    setStatus(vornet, UpToDate);
    EXPECT_NE(pixel(productRow, x, y), orange);
}

} // namespace

namespace {

bool hasRed(const QImage& image) {
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor colour = image.pixelColor(x, y);
            if (colour.red() > 200 && colour.green() < 80 && colour.blue() < 80) {
                return true;
            }
        }
    }
    return false;
}

// Counts a widget's paints.
class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget* widget) { widget->installEventFilter(this); }
    int paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            ++paints;
        }
        return false;
    }
};

TEST_F(ProductRowStatus, TheWarningNotToAbortBlinksEverySecond) {
    const ProductPtr korvex = addProduct(code::KORVEX_FIRMWARE, "Korvex");
    giveRelease(korvex, "2.0.0b1");
    Window::Product* productRow = row("Korvex");
    ASSERT_TRUE(laidOut(productRow));
    setStatus(korvex, FirmwareUpdating);

    // Each paint turns the red on or off.
    const bool first = hasRed(productRow->grab().toImage());
    EXPECT_NE(hasRed(productRow->grab().toImage()), first);
    EXPECT_NE(hasRed(productRow->grab().toImage()), !first);

    PaintCounter counter(productRow);
    EXPECT_TRUE(QTest::qWaitFor([&] { return counter.paints >= 3; }, 10000))
        << "the list repaints a row whose firmware is being written every second";

    setStatus(korvex, UpToDate);
    EXPECT_FALSE(hasRed(productRow->grab().toImage()));
    EXPECT_FALSE(hasRed(productRow->grab().toImage()));
}

} // namespace
