#include "ReleaseServer.h"
#include "TempDir.h"
#include "WindowFixture.h"
#include "kvcurl/kvcurl.h"

#include <QTest>

#include <filesystem>

using namespace kv::portal;

namespace {

class ProductRowActions : public kv::test::WindowTest {
protected:
    ProductRowActions() {
        kv::test::writeFile(releases.file("agreement.txt"), "Licence terms\nof the release");
        kv::test::writeFile(releases.file("package.bin"), "installer");
        showWindow();
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
        return QTest::qWaitFor([&] { return product->status == status; }, 20000);
    }

    kv::test::TempDir releases;
    kv::test::ReleaseServer server{releases.path()};
};

// Only Yes goes on. A device names itself: its name is shown as it stands, never as markup.
TEST_F(ProductRowActions, UpdatingAModeTheDeviceDoesNotRunAsksToSwitchFirst) {
    const struct {
        ProductCode code;
        const char* name;
        bool running;
        const char* title;
        const char* text;
    } cases[] = {
        {code::KORVEX_FIRMWARE, "Korvex", false, "Switch To RAVENNA AES67",
         "Korvex is currently running in Dante mode. Do you wish to switch to RAVENNA AES67?"},
        {code::RX48_FIRMWARE_DANTE, "dante_RX 48 <b>desk</b>", false, "Switch To Dante",
         "RX 48 <b>desk</b> is currently running in RAVENNA AES67 mode. Do you wish to switch "
         "to Dante?"},
        {code::RX48_FIRMWARE, "RX 48", true, nullptr, nullptr},
    };
    for (const auto& c : cases) {
        const ProductPtr product = offered(c.code, c.name);
        product->running = c.running;
        questions.clear();
        answers = {QMessageBox::No, QMessageBox::Cancel};
        for (int refused = 0; c.title != nullptr && refused < 2; ++refused) {
            click(c.name, "actionLink");
            EXPECT_EQ(product->status, static_cast<uint32_t>(ReadyToDownload)) << c.name;
            EXPECT_FALSE(product->updateAfterDownload || core->isDownloading()) << c.name;
        }
        answers = {QMessageBox::Yes};
        click(c.name, "actionLink");
        EXPECT_TRUE(product->updateAfterDownload) << c.name;
        EXPECT_TRUE(reaches(product, DownloadError)) << c.name;
        const QString asked = QString(c.title) + ": " + c.text;
        EXPECT_EQ(questions, c.title ? QStringList({asked, asked, asked}) : QStringList())
            << c.name;
    }
}

// An agreement that cannot be fetched does not hold the download back.
TEST_F(ProductRowActions, DownloadOnlyLeavesTheUpdateToTheUser) {
    const ProductPtr controllers =
        offered(code::KORVEX_REMOTE_CONTROLLER, "Controllers", std::string(kv::test::kRefused));
    controllers->updateAfterDownload = true;
    click("Controllers", "downloadLink");
    EXPECT_TRUE(agreements.empty());
    EXPECT_FALSE(controllers->updateAfterDownload);
    EXPECT_TRUE(reaches(controllers, DownloadError));
}

TEST_F(ProductRowActions, ADownloadedPackageGoesToItsInstallerWithoutTheAgreement) {
    const ProductPtr discovery =
        offered(code::KVDISCOVERY, "KVDiscovery", server.url("/agreement.txt"));
    kv::test::writeFile(core->downloadPath(discovery, true), "installer");
    core->setStatus(discovery, Evaluate);
    click("KVDiscovery", "actionLink");
    // The test's proxy starts no installer: the update ends as a failed one.
    EXPECT_TRUE(reaches(discovery, SoftwareUpdaterError));
    EXPECT_TRUE(agreements.empty());
}

TEST_F(ProductRowActions, CancelTakesAQueuedDownloadBackOffTheQueue) {
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
    EXPECT_EQ(discovery->status, static_cast<uint32_t>(ReadyToDownload));
    EXPECT_EQ(href(link(row("KVDiscovery"), "actionLink")), "Update");
    kvcurl::get(server.url("/control/open/hold"), 30000);
    EXPECT_TRUE(reaches(vornet, ReadyToUpdate));
    EXPECT_TRUE(core->waitUntilIdle(std::chrono::seconds(20)));
    EXPECT_FALSE(std::filesystem::exists(core->downloadPath(discovery, true)));
}

// Web pages open in the browser, even with a space in the address; what the desktop would open
// with another handler is neither offered nor opened.
TEST_F(ProductRowActions, ReleaseNotesOpenInTheBrowserOnlyWhenTheyAreAWebPage) {
    std::vector<std::unique_ptr<kv::test::UrlRecorder>> handlers;
    for (const char* scheme : {"https", "file", "smb", "mailto", "http"}) {
        handlers.push_back(std::make_unique<kv::test::UrlRecorder>(scheme));
    }
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
    ASSERT_EQ(handlers[0]->urls.size(), 1u);
    EXPECT_EQ(handlers[0]->urls[0].toEncoded(), "https://notes.example/korvex%209.0%20notes");
    for (std::size_t other = 1; other < handlers.size(); ++other) {
        EXPECT_TRUE(handlers[other]->urls.empty()) << other;
    }
}

TEST_F(ProductRowActions, TheDownloadFolderAndAFailedInstallerOpenTheFileManager) {
    kv::test::FakeFileManager files;
    const ProductPtr vesk = offered(code::VESK_FIRMWARE, "Vesk");
    kv::test::writeFile(core->downloadPath(vesk, true), "image");
    core->setStatus(vesk, Evaluate);
    click("Vesk", "actionLink");
    const ProductPtr vornet = offered(code::VORNET, "VORNET");
    setStatus(vornet, SoftwareUpdaterError, 1603);
    click("VORNET", "actionLink");
    const auto uri = [](const std::string& path) {
        return QUrl::fromLocalFile(QString::fromStdString(path)).toString();
    };
    EXPECT_TRUE(QTest::qWaitFor([&] { return files.calls.size() == 2; }, 20000));
    EXPECT_EQ(files.calls,
              QStringList({"ShowFolders " + uri(environment.downloadsDir() + "/Firmware"),
                           "ShowItems " + uri(core->downloadPath(vornet, true))}));
}

// Declined, it leaves the product as it was and is asked again; accepted once, it covers its
// kind for the rest of the run.
TEST_F(ProductRowActions, AnAgreementMustBeAcceptedOnceForEachKind) {
    const ProductPtr vornet = offered(code::VORNET, "VORNET", server.url("/agreement.txt"));
    agree = {false, false, true};
    click("VORNET", "actionLink");
    click("VORNET", "downloadLink");
    EXPECT_EQ(vornet->status, static_cast<uint32_t>(ReadyToDownload));
    EXPECT_FALSE(vornet->updateAfterDownload || core->isDownloading());
    click("VORNET", "downloadLink");
    const QString text = "Licence terms\nof the release (640x480)";
    EXPECT_EQ(agreements, (QStringList{text, text, text}));
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
