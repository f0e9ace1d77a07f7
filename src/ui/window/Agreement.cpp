#include "ui/window/Agreement.h"

#include "core/Core.h"
#include "ui/UiScale.h"
#include "ui/progress/QKVProgressThreadWindow.h"
#include "ui/window/DialogRunner.h"

#include <QDialog>
#include <QHBoxLayout>
#include <QPushButton>
#include <QTextEdit>
#include <QVBoxLayout>

#include <set>
#include <string>

namespace kv::portal {

namespace {

constexpr int kDialogWidth = 640;
constexpr int kDialogHeight = 480;
constexpr int kButtonWidth = 160;
constexpr int kButtonSpacing = 20;
constexpr int kTextPointSize = 11;

// Kinds whose agreement was accepted during this run; never kept on disk.
std::set<std::string>& acceptedKinds() {
    static std::set<std::string> kinds;
    return kinds;
}

QPushButton* makeButton(QDialog& dialog, const char* objectName, const QString& text) {
    auto* button = new QPushButton(text, &dialog);
    button->setObjectName(QLatin1String(objectName));
    button->setFixedWidth(scaled(kButtonWidth));
    button->setAutoDefault(false);
    return button;
}

bool agreementAccepted(const QString& text) {
    QDialog dialog;
    dialog.setObjectName(QStringLiteral("agreement"));
    dialog.setModal(true);
    dialog.resize(scaled(kDialogWidth), scaled(kDialogHeight));

    auto* layout = new QVBoxLayout(&dialog);
    auto* edit = new QTextEdit(&dialog);
    edit->setObjectName(QStringLiteral("agreementText"));
    edit->setReadOnly(true);
    QFont font = edit->font();
    font.setPointSize(kTextPointSize);
    edit->setFont(font);
    edit->setStyleSheet(QStringLiteral("QTextEdit {border: none}"));
    edit->setPlainText(text);
    layout->addWidget(edit);

    auto* buttons = new QHBoxLayout;
    QPushButton* agree = makeButton(dialog, "agreeButton", QStringLiteral("I Agree"));
    QPushButton* disagree = makeButton(dialog, "disagreeButton", QStringLiteral("I do not Agree"));
    QObject::connect(agree, &QPushButton::clicked, &dialog, &QDialog::accept);
    QObject::connect(disagree, &QPushButton::clicked, &dialog, &QDialog::reject);
    buttons->addStretch();
    buttons->addWidget(agree);
    buttons->addSpacing(scaled(kButtonSpacing));
    buttons->addWidget(disagree);
    buttons->addStretch();
    layout->addLayout(buttons);

    return runDialog(dialog) == QDialog::Accepted;
}

} // namespace

bool askAgreement(Core* core, const ProductPtr& product) {
    const auto release = product->cloud.get();
    if (!release || release->agreementLink.empty()) {
        return true;
    }
    const std::string kind = product->code;
    if (acceptedKinds().count(kind) != 0) {
        return true;
    }
    std::string text;
    const int fetched = QKVProgressThreadWindow::runWithProgress(
        nullptr, QSize(280, 140), QStringLiteral("Please Wait..."),
        QStringLiteral("Querying Server"), 0, 0,
        [core, product, &text](QKVProgressThreadWindow::IWindow*) {
            return core->fetchAgreement(product, text, kvcurl::ProgressFunction()) ? 1 : 0;
        });
    if (fetched == 0) {
        return true;
    }
    if (!agreementAccepted(QString::fromStdString(text))) {
        return false;
    }
    acceptedKinds().insert(kind);
    return true;
}

} // namespace kv::portal
