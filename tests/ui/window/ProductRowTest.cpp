#include "WindowFixture.h"
#include "kvcurl/kvcurl.h"

#include <QProgressBar>

#include <filesystem>

namespace kv::test {
namespace {

class ProductRow : public WindowTest {
protected:
    ProductRow() {
        writeFile(releases.file("agreement.txt"), "Licence terms\nof the release");
        writeFile(releases.file("package.bin"), "installer");
        showWindow();
    }
    QProgressBar* progress(const std::string& name) const {
        return row(name)->findChild<QProgressBar*>("progress");
    }
    // "status line|href:text of the action link, when shown|d n p": which of the download link,
    // the release notes and the progress bar show.
    QString shown(const std::string& name) const {
        QLabel* action = link(row(name), "actionLink");
        const QString text = QString(action->text()).remove(QRegularExpression("<[^>]*>"));
        return row(name)->statusText() + "|" +
               (action->isVisible() ? href(action) + ":" + text : QString()) + "|" +
               (link(row(name), "downloadLink")->isVisible() ? "d" : "") +
               (link(row(name), "releaseNotesLink")->isVisible() ? "n" : "") +
               (progress(name)->isVisible() ? "p" : "");
    }
    // A product whose release is newer than what is installed.
    ProductPtr offered(ProductCode code, const std::string& name,
                       const std::string& agreement = {}) {
        const ProductPtr product = addProduct(code, name);
        giveRelease(product, "9.0.0b1", "https://notes.example/" + name, agreement);
        core->setStatus(product, Evaluate);
        return product;
    }
    void click(const std::string& name, const char* linkName) {
        clickLink(link(row(name), linkName));
    }
    bool reaches(const ProductPtr& product, uint32_t status) {
        return waitFor([&] { return product->status == status; });
    }
};

// An updatable device, a device the program cannot update (it offers the download, then its
// folder), this program (its package is for elsewhere) and an application with an installer.
TEST_F(ProductRow, EveryStatusShowsItsTextLinksAndProgress) {
    giveRelease(addProduct(code::KORVEX_FIRMWARE, "Korvex"), "2.0.0b1", "https://notes.example/k");
    giveRelease(addProduct(code::VESK_FIRMWARE, "Vesk"), "3.1.0b2", "https://notes.example/v");
    giveRelease(addProduct(code::KVPORTAL, "KVPortal"), "9.0.0b1", "https://notes.example/p");
    giveRelease(addProduct(code::VORNET, "VORNET"), "5.0.0b9");
    const struct {
        const char* name;
        uint32_t status;
        int32_t error;
        const char* shown;
    } table[] = {
        {"Korvex", None, 0, "||"},
        {"Korvex", UpToDate, 0, "Korvex is up to date||"},
        {"Korvex", ReadyToDownload, 0, "Update available|Update:Download & Update|dn"},
        {"Korvex", ReadyToUpdate, 0, "Update available|Update:Update|n"},
        {"Korvex", NoCloudInformation, 0, "Failed to retrieve server information||"},
        {"Korvex", PendingDownload, 0, "Pending download...|Cancel:Cancel|"},
        {"Korvex", PendingUpdate, 0, "Pending update...|Cancel:Cancel|"},
        {"Korvex", Downloading, 0, "Downloading KORVEX-FIRMWARE-2.0.0b1.bin|Cancel:Cancel|p"},
        {"Korvex", FirmwareUploading, 0, "Uploading firmware...||p"},
        {"Korvex", FirmwareUpdating, 0, "Updating firmware...||p"},
        {"Korvex", DeviceRebooting, 0, "Rebooting device...||"},
        {"Korvex", VerifyingMd5, 0, "Verifying downloaded file integrity... ||"},
        {"Korvex", DownloadError, -11,
         "Download failed: Cannot verify downloaded file integrity"
         "|Update:Download & Update|dn"},
        {"Korvex", FirmwareUpdateRequest, 0, "Requesting firmware update...||"},
        {"Korvex", DownloadError, 6,
         "Download failed: Couldn't resolve host name|Update:Download & Update|dn"},
        {"Korvex", FirmwareUpdateError, 0, "Firmware update failed|Update:Update|n"},
        {"Korvex", FirmwareUpdateRetrying, 0, "Firmware update failed. Retrying...||"},
        {"Korvex", ResizingPartitions, 0, "Resizing partitions...||p"},
        {"Korvex", ProgressUnavailable, 0,
         "Check the device display for update progress.\nAn auto-reboot will be triggered once the "
         "update is completed.||"},
        {"Korvex", DownloadError, 0,
         "Download failed: Unexpected Error|Update:Download & Update|dn"},
        {"Vesk", ReadyToDownload, 0, "Update available|Update:Download|n"},
        {"Vesk", ReadyToUpdate, 0,
         "Please install manually. Firmware has been downloaded at|DownloadDirectory:@/Firmware|n"},
        {"Vesk", FirmwareUpdateError, 0, "Firmware update failed|DownloadDirectory:@/Firmware|n"},
        {"KVPortal", ReadyToDownload, 0, "Update available||dn"},
        {"KVPortal", DownloadError, 0, "Download failed: Unexpected Error||dn"},
        {"KVPortal", ReadyToUpdate, 0,
         "Please install manually. Software has been downloaded at|DownloadDirectory:@/Software|n"},
        {"VORNET", ReadyToDownload, 0, "Update available|Update:Download & Update|d"},
        // The installer's status keeps the progress bar as the download left it.
        {"VORNET", Downloading, 0, "Downloading VORNET-5.0.0b9.bin|Cancel:Cancel|p"},
        {"VORNET", SoftwareUpdating, 0, "Updating software...||p"},
        {"VORNET", PendingUpdate, 0, "Pending update...|Cancel:Cancel|"},
        {"VORNET", SoftwareUpdating, 0, "Updating software...||"},
        {"VORNET", SoftwareUpdaterError, 1603,
         "Software update failed: Error code 1603|ShowDownloadedFile:Show in Explorer|"},
        {"VORNET", PendingDownload, 0, "Pending download...|Cancel:Cancel|"},
        // A status this program does not know leaves the links as they were.
        {"VORNET", 21, 0, "|Cancel:Cancel|"},
    };
    for (const auto& c : table) {
        core->findProduct(c.name)->errorCode = c.error;
        core->setStatus(core->findProduct(c.name), c.status);
        EXPECT_EQ(shown(c.name),
                  QString(c.shown).replace("@", QString::fromStdString(environment.downloadsDir())))
            << c.name << " status " << c.status;
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
}

// Links stack from the bottom in their order; an update on offer is marked with an orange dot.
TEST_F(ProductRow, LinksStackFromTheBottomAndAnUpdateIsMarkedWithADot) {
    const ProductPtr korvex = addProduct(code::KORVEX_FIRMWARE, "Korvex");
    giveRelease(korvex, "2.0.0b1", "https://notes.example/k");
    Window::Product* korvexRow = row("Korvex");
    ASSERT_TRUE(laidOut(korvexRow));
    const QPoint dot(scaled(118) + scaled(7), scaled(67) + scaled(1) + scaled(7));
    EXPECT_NE(pixel(korvexRow, dot.x(), dot.y()), QColor(255, 127, 39));
    setStatus(korvex, ReadyToDownload);
    EXPECT_EQ(pixel(korvexRow, dot.x(), dot.y()), QColor(255, 127, 39));
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

// Only Yes goes on. A device names itself: its name is shown as it stands, never as markup.
TEST_F(ProductRow, UpdatingAModeTheDeviceDoesNotRunAsksToSwitchFirst) {
    const struct {
        ProductCode code;
        const char* name;
        bool running;
        const char* question;
    } cases[] = {
        {code::KORVEX_FIRMWARE, "Korvex", false,
         "Switch To RAVENNA AES67: Korvex is currently running in Dante mode. Do you wish to "
         "switch to RAVENNA AES67?"},
        {code::RX48_FIRMWARE_DANTE, "dante_RX 48 <b>desk</b>", false,
         "Switch To Dante: RX 48 <b>desk</b> is currently running in RAVENNA AES67 mode. Do you "
         "wish to switch to Dante?"},
        {code::RX48_FIRMWARE, "RX 48", true, nullptr},
    };
    for (const auto& c : cases) {
        const ProductPtr product = offered(c.code, c.name);
        product->running = c.running;
        questions.clear();
        answers = {QMessageBox::No, QMessageBox::Cancel};
        for (int refused = 0; c.question != nullptr && refused < 2; ++refused) {
            click(c.name, "actionLink");
            EXPECT_EQ(product->status, static_cast<uint32_t>(ReadyToDownload)) << c.name;
            EXPECT_FALSE(product->updateAfterDownload || core->isDownloading()) << c.name;
        }
        answers = {QMessageBox::Yes};
        click(c.name, "actionLink");
        EXPECT_TRUE(product->updateAfterDownload) << c.name;
        EXPECT_TRUE(reaches(product, DownloadError)) << c.name;
        EXPECT_EQ(questions.join('|'),
                  c.question ? (c.question + QString('|')).repeated(3).chopped(1) : "");
    }
}

// An agreement that cannot be fetched does not hold the download back; a downloaded package
// goes to its installer without asking for it.
TEST_F(ProductRow, DownloadOnlyLeavesTheUpdateToTheUserAndAPackageGoesToItsInstaller) {
    const ProductPtr controllers = offered(code::KORVEX_REMOTE_CONTROLLER, "Controllers", kRefused);
    controllers->updateAfterDownload = true;
    click("Controllers", "downloadLink");
    EXPECT_FALSE(controllers->updateAfterDownload);
    EXPECT_TRUE(reaches(controllers, DownloadError));

    const ProductPtr discovery =
        offered(code::KVDISCOVERY, "KVDiscovery", server.url("/agreement.txt"));
    writeFile(core->downloadPath(discovery, true), "installer");
    core->setStatus(discovery, Evaluate);
    click("KVDiscovery", "actionLink");
    // The test's proxy starts no installer: the update ends as a failed one.
    EXPECT_TRUE(reaches(discovery, SoftwareUpdaterError));
    EXPECT_TRUE(agreements.empty());
}

TEST_F(ProductRow, CancelTakesAQueuedDownloadBackOffTheQueue) {
    const ProductPtr vornet = offered(code::VORNET, "VORNET");
    const ProductPtr discovery = offered(code::KVDISCOVERY, "KVDiscovery");
    auto held = std::make_shared<Product::Cloud>(*vornet->cloud.get());
    held->link = server.url("/package.bin?gate=hold");
    vornet->cloud.set(held);
    click("VORNET", "downloadLink");
    ASSERT_EQ(kvcurl::get(server.url("/control/wait/hold"), 30000)->code, 200);
    click("KVDiscovery", "downloadLink");
    ASSERT_EQ(discovery->status, static_cast<uint32_t>(PendingDownload));
    click("KVDiscovery", "actionLink");
    EXPECT_EQ(shown("KVDiscovery"), "Update available|Update:Download & Update|dn");
    kvcurl::get(server.url("/control/open/hold"), 30000);
    EXPECT_TRUE(reaches(vornet, ReadyToUpdate));
    EXPECT_TRUE(core->waitUntilIdle(std::chrono::seconds(20)));
    EXPECT_FALSE(std::filesystem::exists(core->downloadPath(discovery, true)));
}

// Web pages open in the browser, even with a space in the address; what the desktop would open
// with another handler is neither offered nor opened.
TEST_F(ProductRow, ReleaseNotesOpenInTheBrowserOnlyWhenTheyAreAWebPage) {
    Desktop desktop({"https", "file", "smb", "mailto", "http"});
    const ProductPtr korvex = offered(code::KORVEX_FIRMWARE, "Korvex");
    const char* const notes[] = {"https://notes.example/korvex 9.0 notes", "file:///tmp/setup.exe",
                                 "smb://share.example/setup.exe", "mailto:?attach=/etc/passwd",
                                 "http:///notes"};
    for (const char* address : notes) {
        giveRelease(korvex, "9.0.0b1", address);
        setStatus(korvex, ReadyToDownload);
        EXPECT_EQ(link(row("Korvex"), "releaseNotesLink")->isVisible(), address == notes[0]);
        row("Korvex")->slotLinkClicked("ReleaseNotes");
    }
    EXPECT_EQ(desktop.opened, QStringList("https://notes.example/korvex%209.0%20notes"));
}

TEST_F(ProductRow, TheDownloadFolderAndAFailedInstallerOpenTheFileManager) {
    Desktop desktop({});
    const ProductPtr vesk = offered(code::VESK_FIRMWARE, "Vesk");
    writeFile(core->downloadPath(vesk, true), "image");
    core->setStatus(vesk, Evaluate);
    click("Vesk", "actionLink");
    const ProductPtr vornet = offered(code::VORNET, "VORNET");
    setStatus(vornet, SoftwareUpdaterError, 1603);
    click("VORNET", "actionLink");
    EXPECT_TRUE(waitFor([&] { return desktop.opened.size() == 2; }));
    EXPECT_EQ(desktop.opened.join("|").toStdString(),
              "ShowFolders file://" + environment.downloadsDir() + "/Firmware|ShowItems file://" +
                  core->downloadPath(vornet, true));
}

// Declined, it leaves the product as it was and is asked again; accepted once, it covers its
// kind for the rest of the run.
TEST_F(ProductRow, AnAgreementMustBeAcceptedOnceForEachKind) {
    const ProductPtr vornet = offered(code::VORNET, "VORNET", server.url("/agreement.txt"));
    agree = {false, false, true};
    click("VORNET", "actionLink");
    click("VORNET", "downloadLink");
    EXPECT_EQ(vornet->status, static_cast<uint32_t>(ReadyToDownload));
    EXPECT_FALSE(vornet->updateAfterDownload || core->isDownloading());
    click("VORNET", "downloadLink");
    EXPECT_EQ(agreements.join('|'),
              QString("Licence terms\nof the release (640x480)|").repeated(3).chopped(1));
    EXPECT_TRUE(reaches(vornet, DownloadError));

    auto next = std::make_shared<Product::Cloud>(*vornet->cloud.get());
    next->link = server.url("/package.bin");
    vornet->cloud.set(next);
    core->setStatus(vornet, Evaluate);
    click("VORNET", "actionLink");
    EXPECT_TRUE(reaches(vornet, SoftwareUpdaterError));
    EXPECT_EQ(agreements.size(), 3);
}

} // namespace
} // namespace kv::test
