#include "ui/theme/QKVTheme.h"
#include "ui/window/Agreement.h"
#include "ui/window/Central.h"
#include "ui/window/DisplayName.h"
#include "ui/window/ProductRow.h"
#include "ui/window/RestartLauncher.h"
#include "ui/window/ShowInExplorer.h"
#include "ui/window/WebAddress.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QUrl>

namespace kv::portal {

void Window::Product::slotLinkClicked(const QString& link) {
    const ProductPtr product = product_;
    if (link == QLatin1String("Download")) {
        if (askAgreement(core_, product)) {
            product->updateAfterDownload = false;
            core_->requestDownload(product->name);
        }
    } else if (link == QLatin1String("Update")) {
        startUpdate(product);
    } else if (link == QLatin1String("ShowDownloadedFile")) {
        showInExplorer(QString::fromStdString(core_->downloadPath(product, true)));
    } else if (link == QLatin1String("Cancel")) {
        core_->cancel(product->name);
        emit signalUpdateUI();
    } else if (link == QLatin1String("ReleaseNotes")) {
        const auto release = product->cloud.get();
        if (const QUrl address = release ? webAddress(release->releaseNotesLink) : QUrl();
            !address.isEmpty()) {
            QDesktopServices::openUrl(address);
        }
    } else if (link == QLatin1String("DownloadDirectory")) {
        showInExplorer(QString::fromStdString(core_->downloadPath(product, false)));
    } else if (link == QLatin1String("RestartApp")) {
        restartProgram();
    }
}

void Window::Product::startUpdate(const ProductPtr& product) {
    if (!product->running && !switchModeAsked(product)) {
        return;
    }
    if (core_->isDownloaded(product)) {
        core_->requestUpdate(product);
        return;
    }
    if (askAgreement(core_, product)) {
        product->updateAfterDownload = true;
        core_->requestDownload(product->name);
    }
}

bool Window::Product::switchModeAsked(const ProductPtr& product) {
    const QString current =
        product->isDante() ? QStringLiteral("RAVENNA AES67") : QStringLiteral("Dante");
    const QString target =
        product->isDante() ? QStringLiteral("Dante") : QStringLiteral("RAVENNA AES67");
    const QMessageBox::StandardButton answer = QKVTheme::instance()->showMessageBox(
        this, QStringLiteral("Switch To ") + target,
        QStringLiteral("%1 is currently running in %2 mode. Do you wish to switch to %3?")
            .arg(displayName(*product), current, target),
        QMessageBox::Question, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    setCursor(Qt::ArrowCursor);
    return answer == QMessageBox::Yes;
}

void Window::Product::restartProgram() {
    const bool downloading = core_->isDownloading();
    if (downloading || core_->isUpdating()) {
        QKVTheme::instance()->showMessageBox(
            this, QStringLiteral("Kelmora Portal"),
            QStringLiteral("Cannot restart while ") +
                (downloading ? QStringLiteral("downloading") : QStringLiteral("updating")),
            QMessageBox::Warning, QMessageBox::Ok);
        return;
    }
    if (IProxy* proxy = core_->proxy()) {
        startRestartLauncher(*proxy);
    }
    QCoreApplication::quit();
}

} // namespace kv::portal
