#include "DesktopRecorders.h"
#include "ReleaseServer.h"
#include "TempDir.h"
#include "WindowFixture.h"
#include "kvcurl/kvcurl.h"
#include "ui/window/ProductRow.h"

#include <QLabel>
#include <QTest>

#include <filesystem>
#include <memory>
#include <vector>

using namespace kv::portal;

namespace {

constexpr int kDeadlineMs = 20000;

class ProductRowActions : public kv::test::WindowTest {
protected:
    ProductRowActions() {
        kv::test::writeFile(releases.file("agreement.txt"), "Licence terms\nof the release");
        kv::test::writeFile(releases.file("package.bin"), std::string(4096, 'k'));
        showWindow();
    }

    // A product whose release is newer than what is installed.
    ProductPtr offered(ProductCode code, const std::string& name,
                       const std::string& agreement = {}) {
        const ProductPtr product = addProduct(code, name);
        giveRelease(product, "9.0.0b1", "https://notes.kelmora.example/" + name, agreement);
        core->setStatus(product, Evaluate);
        return product;
    }

    // Clicks the row's link once it is laid out.
    void click(const std::string& name, const char* linkName) {
        Window::Product* productRow = row(name);
        ASSERT_NE(productRow, nullptr) << name;
        QLabel* label = link(productRow, linkName);
        ASSERT_TRUE(label->isVisible()) << name << " " << linkName;
        ASSERT_TRUE(QTest::qWaitFor([&] { return label->width() > 0 && label->height() > 0; }));
        clickLink(label);
    }

    bool waitForStatus(const ProductPtr& product, uint32_t status) {
        return QTest::qWaitFor([&] { return product->status == status; }, kDeadlineMs);
    }

    // Downloads of these tests fail at once: their server refuses connections.
    bool downloadTried(const ProductPtr& product) { return waitForStatus(product, DownloadError); }

    void waitUntilIdle() {
        EXPECT_TRUE(core->waitUntilIdle(std::chrono::milliseconds(kDeadlineMs)));
    }

    kv::test::TempDir releases;
    kv::test::ReleaseServer server{releases.path()};
};

// Updating a mode the device does not run asks to switch; only Yes goes on. A device names
// itself: its name is shown as it stands, never read as markup.
TEST_F(ProductRowActions, UpdateOfAModeTheDeviceDoesNotRunAsksFirstAndOnlyYesGoesOn) {
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
        SCOPED_TRACE(c.name);
        const ProductPtr product = offered(c.code, c.name);
        product->running = c.running;
        questions.clear();
        answerQuestions({QMessageBox::No, QMessageBox::Cancel, QMessageBox::Yes});
        for (int no = 0; c.title != nullptr && no < 2; ++no) {
            click(c.name, "actionLink");
            EXPECT_EQ(product->status, static_cast<uint32_t>(ReadyToDownload));
            EXPECT_FALSE(product->updateAfterDownload);
            EXPECT_FALSE(core->isDownloading());
        }
        click(c.name, "actionLink");
        EXPECT_TRUE(product->updateAfterDownload);
        EXPECT_TRUE(downloadTried(product));
        if (c.title == nullptr) {
            EXPECT_TRUE(questions.empty());
            continue;
        }
        ASSERT_EQ(questions.size(), 3u);
        EXPECT_EQ(questions[0].title, QString::fromUtf8(c.title));
        EXPECT_EQ(questions[0].text, QString::fromUtf8(c.text));
        EXPECT_EQ(questions[0].icon, QMessageBox::Question);
        EXPECT_EQ(questions[0].buttons, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        EXPECT_EQ(questions[0].format, Qt::PlainText);
    }
}

TEST_F(ProductRowActions, DownloadOnlyLeavesTheUpdateToTheUser) {
    const ProductPtr vornet = offered(code::VORNET, "VORNET");
    vornet->updateAfterDownload = true;
    click("VORNET", "downloadLink");
    EXPECT_FALSE(vornet->updateAfterDownload);
    EXPECT_TRUE(downloadTried(vornet));
}

TEST_F(ProductRowActions, ADownloadedPackageIsUpdatedWithoutAskingForTheAgreement) {
    const ProductPtr vornet = offered(code::VORNET, "VORNET", server.url("/agreement.txt"));
    kv::test::writeFile(core->downloadPath(vornet, true), "installer");
    core->setStatus(vornet, Evaluate);
    ASSERT_EQ(vornet->status, static_cast<uint32_t>(ReadyToUpdate));

    click("VORNET", "actionLink");
    EXPECT_TRUE(agreements.empty());
    // The test's proxy starts no installer: the update ends as a failed one.
    EXPECT_TRUE(waitForStatus(vornet, SoftwareUpdaterError));
    waitUntilIdle();
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
    EXPECT_EQ(href(link(row("KVDiscovery"), "actionLink")), QStringLiteral("Cancel"));

    click("KVDiscovery", "actionLink");
    EXPECT_EQ(discovery->status, static_cast<uint32_t>(ReadyToDownload));
    EXPECT_EQ(href(link(row("KVDiscovery"), "actionLink")), QStringLiteral("Update"));
    EXPECT_TRUE(link(row("KVDiscovery"), "downloadLink")->isVisible());

    kvcurl::get(server.url("/control/open/hold"), 30000);
    EXPECT_TRUE(waitForStatus(vornet, ReadyToUpdate));
    waitUntilIdle();
    EXPECT_FALSE(std::filesystem::exists(core->downloadPath(discovery, true)));
}

// Web pages open in the browser, even with a space in the address; what the desktop would open
// with another handler is neither offered nor opened.
TEST_F(ProductRowActions, ReleaseNotesOpenInTheBrowserOnlyWhenTheyAreAWebPage) {
    std::vector<std::unique_ptr<kv::test::UrlRecorder>> handlers;
    for (const char* scheme : {"https", "file", "smb", "mailto", "http"}) {
        handlers.push_back(std::make_unique<kv::test::UrlRecorder>(QString::fromLatin1(scheme)));
    }
    const ProductPtr korvex = offered(code::KORVEX_FIRMWARE, "Korvex");
    const std::pair<const char*, const char*> cases[] = {
        {"https://notes.kelmora.example/korvex 9.0 notes",
         "https://notes.kelmora.example/korvex%209.0%20notes"},
        {"file:///tmp/setup.exe", nullptr},
        {"smb://share.example/setup.exe", nullptr},
        {"mailto:?attach=/etc/passwd", nullptr},
        {"http:///notes", nullptr},
    };
    for (const auto& [notes, opened] : cases) {
        giveRelease(korvex, "9.0.0b1", notes);
        core->setStatus(korvex, UpToDate);
        core->setStatus(korvex, ReadyToDownload);
        Window::Product* korvexRow = row("Korvex");
        ASSERT_TRUE(QTest::qWaitFor([&] { return link(korvexRow, "downloadLink")->isVisible(); }));
        EXPECT_EQ(link(korvexRow, "releaseNotesLink")->isVisible(), opened != nullptr) << notes;
        if (opened != nullptr) {
            click("Korvex", "releaseNotesLink");
        } else {
            korvexRow->slotLinkClicked(QStringLiteral("ReleaseNotes"));
        }
    }
    ASSERT_EQ(handlers[0]->urls.size(), 1u);
    EXPECT_EQ(handlers[0]->urls[0].toEncoded().toStdString(), cases[0].second);
    for (std::size_t other = 1; other < handlers.size(); ++other) {
        EXPECT_TRUE(handlers[other]->urls.empty())
            << handlers[other]->urls[0].toString().toStdString();
    }
}

TEST_F(ProductRowActions, TheDownloadFolderAndAFailedInstallerOpenTheFileManager) {
    kv::test::FakeFileManager fileManager;
    const ProductPtr vesk = offered(code::VESK_FIRMWARE, "Vesk");
    kv::test::writeFile(core->downloadPath(vesk, true), "image");
    core->setStatus(vesk, Evaluate);
    ASSERT_EQ(vesk->status, static_cast<uint32_t>(ReadyToUpdate));
    click("Vesk", "actionLink");
    ASSERT_TRUE(QTest::qWaitFor([&] { return fileManager.calls.size() == 1; }, kDeadlineMs));
    EXPECT_EQ(fileManager.calls[0].method, QStringLiteral("ShowFolders"));
    EXPECT_EQ(fileManager.calls[0].uris,
              QStringList{QUrl::fromLocalFile(
                              QString::fromStdString(environment.downloadsDir() + "/Firmware"))
                              .toString()});

    const ProductPtr vornet = offered(code::VORNET, "VORNET");
    vornet->errorCode = 1603;
    core->setStatus(vornet, SoftwareUpdaterError);
    click("VORNET", "actionLink");
    ASSERT_TRUE(QTest::qWaitFor([&] { return fileManager.calls.size() == 2; }, kDeadlineMs));
    EXPECT_EQ(fileManager.calls[1].method, QStringLiteral("ShowItems"));
    EXPECT_EQ(
        fileManager.calls[1].uris,
        QStringList{QUrl::fromLocalFile(QString::fromStdString(core->downloadPath(vornet, true)))
                        .toString()});
}

TEST_F(ProductRowActions, AnAgreementAcceptedOnceCoversItsKindForTheRun) {
    const ProductPtr vornet = offered(code::VORNET, "VORNET", server.url("/agreement.txt"));
    answerAgreements({true});
    click("VORNET", "downloadLink");
    ASSERT_EQ(agreements.size(), 1u);
    EXPECT_EQ(agreements[0].text, QStringLiteral("Licence terms\nof the release"));
    EXPECT_EQ(agreements[0].size, QSize(640, 480));
    EXPECT_EQ(agreements[0].agreeText, QStringLiteral("I Agree"));
    EXPECT_EQ(agreements[0].disagreeText, QStringLiteral("I do not Agree"));
    EXPECT_TRUE(downloadTried(vornet));

    // The next release of the same kind downloads and goes on to its installer unasked.
    auto next = std::make_shared<Product::Cloud>(*vornet->cloud.get());
    next->link = server.url("/package.bin");
    vornet->cloud.set(next);
    core->setStatus(vornet, Evaluate);
    click("VORNET", "actionLink");
    EXPECT_TRUE(waitForStatus(vornet, SoftwareUpdaterError));
    EXPECT_EQ(agreements.size(), 1u);
    waitUntilIdle();
}

TEST_F(ProductRowActions, ADeclinedAgreementLeavesTheProductAndIsAskedAgain) {
    const ProductPtr discovery =
        offered(code::KVDISCOVERY, "KVDiscovery", server.url("/agreement.txt"));
    answerAgreements({false, false});
    click("KVDiscovery", "actionLink");
    EXPECT_EQ(agreements.size(), 1u);
    EXPECT_EQ(discovery->status, static_cast<uint32_t>(ReadyToDownload));
    EXPECT_FALSE(discovery->updateAfterDownload);
    EXPECT_FALSE(core->isDownloading());

    click("KVDiscovery", "downloadLink");
    EXPECT_EQ(agreements.size(), 2u);
    EXPECT_EQ(discovery->status, static_cast<uint32_t>(ReadyToDownload));
}

TEST_F(ProductRowActions, AnAgreementThatCannotBeFetchedDoesNotHoldTheDownloadBack) {
    const ProductPtr controllers = offered(
        code::KORVEX_REMOTE_CONTROLLER, "Korvex Remote Controllers", refused.url("/agreement.txt"));
    click("Korvex Remote Controllers", "downloadLink");
    EXPECT_TRUE(agreements.empty());
    EXPECT_TRUE(downloadTried(controllers));
}

} // namespace
