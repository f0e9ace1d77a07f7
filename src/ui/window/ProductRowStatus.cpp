#include "ui/UiScale.h"
#include "ui/window/All.h"
#include "ui/window/Central.h"
#include "ui/window/DisplayName.h"
#include "ui/window/ProductRow.h"
#include "ui/window/Tabs.h"
#include "ui/window/WebAddress.h"

#include <QLabel>
#include <QProgressBar>

namespace kv::portal {

namespace {

const QString kCancelLink = QStringLiteral("<a href=\"Cancel\">Cancel</a>");

} // namespace

bool Window::Product::updatable() const {
    return core_->canUpdate(product_);
}

QString Window::Product::statusText() const {
    const auto release = product_->cloud.get();
    switch (product_->status) {
    case UpToDate: {
        QString text = QStringLiteral("%1 is up to date").arg(displayName(*product_));
        if (product_->code == code::KVPORTAL && central()->portalUpdateState() == 0) {
            text += QStringLiteral(". App restart is required");
        }
        return text;
    }
    case ReadyToDownload:
        return QStringLiteral("Update available");
    case ReadyToUpdate:
        if (updatable()) {
            return QStringLiteral("Update available");
        }
        return QStringLiteral("Please install manually. ") +
               (product_->isFirmware() ? QStringLiteral("Firmware") : QStringLiteral("Software")) +
               QStringLiteral(" has been downloaded at");
    case NoCloudInformation:
        return QStringLiteral("Failed to retrieve server information");
    case PendingDownload:
        return QStringLiteral("Pending download...");
    case PendingUpdate:
        return QStringLiteral("Pending update...");
    case Downloading:
        return QStringLiteral("Downloading ") +
               (release ? QString::fromStdString(release->fileName) : QString());
    case FirmwareUploading:
        return QStringLiteral("Uploading firmware...");
    case FirmwareUpdating:
        return QStringLiteral("Updating firmware...");
    case DeviceRebooting:
        return QStringLiteral("Rebooting device...");
    case SoftwareUpdating:
        return QStringLiteral("Updating software...");
    case VerifyingMd5:
        return QStringLiteral("Verifying downloaded file integrity... ");
    case DownloadError:
        return QStringLiteral("Download failed: ") +
               QString::fromStdString(Core::downloadErrorText(product_->errorCode));
    case FirmwareUpdateRequest:
        return QStringLiteral("Requesting firmware update...");
    case FirmwareUpdateError:
        return QStringLiteral("Firmware update failed");
    case FirmwareUpdateRetrying:
        return QStringLiteral("Firmware update failed. Retrying...");
    case SoftwareUpdaterError:
        return QStringLiteral("Software update failed: Error code ") +
               QString::number(product_->errorCode);
    case ResizingPartitions:
        return QStringLiteral("Resizing partitions...");
    case ProgressUnavailable:
        return QStringLiteral("Check the device display for update progress.\nAn auto-reboot "
                              "will be triggered once the update is completed.");
    default:
        return QString();
    }
}

bool Window::Product::offersUpdate() const {
    switch (product_->status) {
    case ReadyToDownload:
    case DownloadError:
        return true;
    case ReadyToUpdate:
    case FirmwareUpdateError:
        return updatable();
    default:
        return false;
    }
}

void Window::Product::slotUpdateUI() {
    const int height = scaled(product_->note.get().empty() ? kHeight : kHeightWithNote);
    setMinimumHeight(height);
    setMaximumHeight(height);

    const auto release = product_->cloud.get();
    const bool releaseNotes = release && !webAddress(release->releaseNotesLink).isEmpty();
    const auto hideProgress = [this] {
        progress_->setValue(0);
        progress_->hide();
    };
    const uint32_t status = product_->status;
    switch (status) {
    case None:
    case NoCloudInformation:
    case DeviceRebooting:
    case VerifyingMd5:
    case FirmwareUpdateRequest:
    case FirmwareUpdateRetrying:
    case ProgressUnavailable:
        setLink(actionLink_, false);
        setLink(downloadLink_, false);
        setLink(releaseNotesLink_, false);
        progress_->hide();
        break;
    case UpToDate: {
        const bool restart =
            product_->code == code::KVPORTAL && central()->portalUpdateState() == 0;
        setLink(actionLink_, restart,
                restart ? QStringLiteral("<a href=\"RestartApp\">Restart</a>") : QString());
        setLink(downloadLink_, false);
        setLink(releaseNotesLink_, false);
        progress_->hide();
        break;
    }
    case ReadyToDownload:
    case DownloadError: {
        // Software the program does not install (itself, on this system) is offered only to be
        // downloaded and taken elsewhere.
        const bool elsewhere = !updatable() && !product_->isFirmware();
        setLink(actionLink_, !elsewhere,
                updatable() ? QStringLiteral("<a href=\"Update\">Download & Update</a>")
                            : QStringLiteral("<a href=\"Update\">Download</a>"));
        setLink(downloadLink_, updatable() || elsewhere);
        setLink(releaseNotesLink_, releaseNotes);
        hideProgress();
        emit central()->all()->signalUpdateUI();
        break;
    }
    case ReadyToUpdate:
    case FirmwareUpdateError:
        setLink(
            actionLink_, true,
            updatable()
                ? QStringLiteral("<a href=\"Update\">Update</a>")
                : QStringLiteral("<a href=\"DownloadDirectory\">") +
                      QString::fromStdString(core_->downloadPath(product_, false)).toHtmlEscaped() +
                      QStringLiteral("</a>"));
        setLink(downloadLink_, false);
        setLink(releaseNotesLink_, releaseNotes);
        hideProgress();
        emit central()->all()->signalUpdateUI();
        break;
    case PendingDownload:
    case PendingUpdate:
    case Downloading:
        setLink(actionLink_, true, kCancelLink);
        setLink(downloadLink_, false);
        setLink(releaseNotesLink_, false);
        progress_->setVisible(status == Downloading);
        break;
    case FirmwareUploading:
    case FirmwareUpdating:
    case ResizingPartitions:
        setLink(actionLink_, false);
        setLink(downloadLink_, false);
        setLink(releaseNotesLink_, false);
        progress_->show();
        break;
    case SoftwareUpdating:
        setLink(actionLink_, false);
        setLink(downloadLink_, false);
        setLink(releaseNotesLink_, false);
        break;
    case SoftwareUpdaterError:
        // Shown although the other links keep their state: after a failed install nothing
        // else would be offered.
        setLink(actionLink_, true,
                QStringLiteral("<a href=\"ShowDownloadedFile\">Show in Explorer</a>"));
        break;
    default:
        break;
    }
    layoutLinks();
    if (auto* tabs = qobject_cast<Tabs*>(parentWidget())) {
        tabs->fitHeight();
    }
    update();
}

} // namespace kv::portal
