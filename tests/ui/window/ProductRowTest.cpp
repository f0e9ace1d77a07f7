#include "WindowFixture.h"
#include "ui/UiScale.h"

#include <QProgressBar>
#include <QRegularExpression>
#include <QTest>

using namespace kv::portal;

namespace {

class ProductRow : public kv::test::WindowTest {
protected:
    ProductRow() { showWindow(); }

    QProgressBar* progress(const std::string& name) const {
        return row(name)->findChild<QProgressBar*>("progress");
    }

    // The status line; the action link as "href:text", empty when hidden; and which of the
    // download link (d), the release notes (n) and the progress bar (p) show.
    QStringList shown(const std::string& name) const {
        QLabel* action = link(row(name), "actionLink");
        const QString text = QString(action->text()).remove(QRegularExpression("<[^>]*>"));
        return {row(name)->statusText(),
                action->isVisible() ? href(action) + ":" + text : QString(),
                QString(link(row(name), "downloadLink")->isVisible() ? "d" : "") +
                    (link(row(name), "releaseNotesLink")->isVisible() ? "n" : "") +
                    (progress(name)->isVisible() ? "p" : "")};
    }
};

// An updatable device, a device the program cannot update (it offers the download, then its
// folder), this program (its package is for elsewhere) and an application with an installer.
TEST_F(ProductRow, EveryStatusShowsItsTextLinksAndProgress) {
    giveRelease(addProduct(code::KORVEX_FIRMWARE, "Korvex"), "2.0.0b1", "https://notes.example/k");
    giveRelease(addProduct(code::VESK_FIRMWARE, "Vesk"), "3.1.0b2", "https://notes.example/v");
    giveRelease(addProduct(code::KVPORTAL, "KVPortal"), "9.0.0b1", "https://notes.example/p");
    giveRelease(addProduct(code::VORNET, "VORNET"), "5.0.0b9");
    const QString firmware = QString::fromStdString(environment.downloadsDir() + "/Firmware");
    const QString software = QString::fromStdString(environment.downloadsDir() + "/Software");
    const QString update = "Update:Download & Update";
    const QString failed = "Download failed: ";
    const struct {
        const char* name;
        uint32_t status;
        int32_t error;
        QStringList shown;
    } table[] = {
        {"Korvex", None, 0, {"", "", ""}},
        {"Korvex", UpToDate, 0, {"Korvex is up to date", "", ""}},
        {"Korvex", ReadyToDownload, 0, {"Update available", update, "dn"}},
        {"Korvex", ReadyToUpdate, 0, {"Update available", "Update:Update", "n"}},
        {"Korvex", NoCloudInformation, 0, {"Failed to retrieve server information", "", ""}},
        {"Korvex", PendingDownload, 0, {"Pending download...", "Cancel:Cancel", ""}},
        {"Korvex", PendingUpdate, 0, {"Pending update...", "Cancel:Cancel", ""}},
        {"Korvex",
         Downloading,
         0,
         {"Downloading KORVEX-FIRMWARE-2.0.0b1.bin", "Cancel:Cancel", "p"}},
        {"Korvex", FirmwareUploading, 0, {"Uploading firmware...", "", "p"}},
        {"Korvex", FirmwareUpdating, 0, {"Updating firmware...", "", "p"}},
        {"Korvex", DeviceRebooting, 0, {"Rebooting device...", "", ""}},
        {"Korvex", VerifyingMd5, 0, {"Verifying downloaded file integrity... ", "", ""}},
        {"Korvex",
         DownloadError,
         -11,
         {failed + "Cannot verify downloaded file integrity", update, "dn"}},
        {"Korvex", FirmwareUpdateRequest, 0, {"Requesting firmware update...", "", ""}},
        {"Korvex", DownloadError, 6, {failed + "Couldn't resolve host name", update, "dn"}},
        {"Korvex", FirmwareUpdateError, 0, {"Firmware update failed", "Update:Update", "n"}},
        {"Korvex", FirmwareUpdateRetrying, 0, {"Firmware update failed. Retrying...", "", ""}},
        {"Korvex", ResizingPartitions, 0, {"Resizing partitions...", "", "p"}},
        {"Korvex",
         ProgressUnavailable,
         0,
         {"Check the device display for update progress.\nAn auto-reboot will be triggered once "
          "the update is completed.",
          "", ""}},
        {"Korvex", DownloadError, 0, {failed + "Unexpected Error", update, "dn"}},
        {"Vesk", ReadyToDownload, 0, {"Update available", "Update:Download", "n"}},
        {"Vesk",
         ReadyToUpdate,
         0,
         {"Please install manually. Firmware has been downloaded at",
          "DownloadDirectory:" + firmware, "n"}},
        {"Vesk",
         FirmwareUpdateError,
         0,
         {"Firmware update failed", "DownloadDirectory:" + firmware, "n"}},
        {"KVPortal", ReadyToDownload, 0, {"Update available", "", "dn"}},
        {"KVPortal", DownloadError, 0, {failed + "Unexpected Error", "", "dn"}},
        {"KVPortal",
         ReadyToUpdate,
         0,
         {"Please install manually. Software has been downloaded at",
          "DownloadDirectory:" + software, "n"}},
        {"VORNET", ReadyToDownload, 0, {"Update available", update, "d"}},
        // The installer's status keeps the progress bar as the download left it.
        {"VORNET", Downloading, 0, {"Downloading VORNET-5.0.0b9.bin", "Cancel:Cancel", "p"}},
        {"VORNET", SoftwareUpdating, 0, {"Updating software...", "", "p"}},
        {"VORNET", PendingUpdate, 0, {"Pending update...", "Cancel:Cancel", ""}},
        {"VORNET", SoftwareUpdating, 0, {"Updating software...", "", ""}},
        {"VORNET",
         SoftwareUpdaterError,
         1603,
         {"Software update failed: Error code 1603", "ShowDownloadedFile:Show in Explorer", ""}},
        {"VORNET", PendingDownload, 0, {"Pending download...", "Cancel:Cancel", ""}},
        // A status this program does not know leaves the links as they were.
        {"VORNET", 21, 0, {"", "Cancel:Cancel", ""}},
    };
    for (const auto& c : table) {
        core->findProduct(c.name)->errorCode = c.error;
        core->setStatus(core->findProduct(c.name), c.status);
        EXPECT_EQ(shown(c.name), c.shown) << c.name << " status " << c.status;
    }
}

TEST_F(ProductRow, ARowPaintsItsNameModeVersionsAndNote) {
    giveRelease(addProduct(code::KORVEX_FIRMWARE, "Korvex"), "2.0.0b1");
    addProduct(code::VORNET, "VORNET", {}, "5.0.0b1");
    addProduct(code::KORVEX_FIRMWARE_DANTE, "dante_Desk dante_2");
    const struct {
        const char* name;
        bool running;
        uint32_t status;
        const char* painted;
    } cases[] = {
        {"Korvex", true, ReadyToDownload,
         "Korvex|(Running)|Installed version:|1.0.0 b1|Released version:|2.0.0 b1|Update "
         "available"},
        {"Korvex", false, ReadyToDownload,
         "Korvex|(Not Running)|Installed version:|None|Released version:|2.0.0 b1|Update "
         "available"},
        {"Korvex", true, FirmwareUpdating,
         "Korvex|(Running)|Please do not abort the firmware updating process|Updating firmware..."},
        {"VORNET", true, NoCloudInformation,
         "VORNET|Installed version:|5.0.0 b1|Released version:|N/A|Failed to retrieve server "
         "information"},
        {"dante_Desk dante_2", true, None,
         "Desk dante_2|(Running)|Installed version:|1.0.0 b1|Released version:|N/A"},
    };
    for (const auto& c : cases) {
        core->findProduct(c.name)->running = c.running;
        setStatus(core->findProduct(c.name), c.status);
        EXPECT_EQ(paintedTexts(row(c.name)).join("|"), QString(c.painted));
    }

    // A note makes the row taller.
    const ProductPtr vornet = core->findProduct("VORNET");
    EXPECT_TRUE(QTest::qWaitFor([&] { return row("VORNET")->height() == scaled(110); }));
    vornet->note.set("Note: intermediate versions first.");
    setStatus(vornet, ReadyToDownload);
    EXPECT_TRUE(QTest::qWaitFor([&] { return row("VORNET")->height() == scaled(131); }));
    EXPECT_EQ(paintedTexts(row("VORNET")).last(), "Note: intermediate versions first.");
    vornet->note.set("");
    setStatus(vornet, UpToDate);
    EXPECT_TRUE(QTest::qWaitFor([&] { return row("VORNET")->height() == scaled(110); }));
}

// Links stack from the bottom in their order; an update on offer is marked with an orange dot.
TEST_F(ProductRow, LinksStackFromTheBottomAndAnUpdateIsMarkedWithADot) {
    const ProductPtr korvex = addProduct(code::KORVEX_FIRMWARE, "Korvex");
    giveRelease(korvex, "2.0.0b1", "https://notes.example/k");
    Window::Product* korvexRow = row("Korvex");
    ASSERT_TRUE(laidOut(korvexRow));
    const QPoint dot(scaled(118) + scaled(7), scaled(67) + scaled(1) + scaled(7));
    const QColor orange(255, 127, 39);
    EXPECT_NE(pixel(korvexRow, dot.x(), dot.y()), orange);
    setStatus(korvex, ReadyToDownload);
    EXPECT_EQ(pixel(korvexRow, dot.x(), dot.y()), orange);
    const int h = korvexRow->height();
    const auto slot = [&](int n) {
        return QRect(scaled(7), h - n * scaled(20), korvexRow->width() - scaled(14), scaled(20));
    };
    EXPECT_EQ(link(korvexRow, "actionLink")->geometry(), slot(1));
    EXPECT_EQ(link(korvexRow, "downloadLink")->geometry(), slot(2));
    EXPECT_EQ(link(korvexRow, "releaseNotesLink")->geometry(), slot(3));
    setStatus(korvex, ReadyToUpdate);
    EXPECT_EQ(link(korvexRow, "releaseNotesLink")->geometry(), slot(2));
    setStatus(korvex, Downloading);
    EXPECT_EQ(progress("Korvex")->geometry(),
              QRect(scaled(117), h - scaled(20), korvexRow->width() / 2, scaled(16)));
}

} // namespace
