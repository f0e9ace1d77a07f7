#include "ui/window/HistoryView.h"

#include "ui/commands/HistoryEntries.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QJsonObject>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace kv::portal {

HistoryView::HistoryView(QWidget* parent, const std::string& historyText) : QDialog(parent) {
    setObjectName(QStringLiteral("historyView"));
    setWindowTitle(tr("Update History"));
    auto* list = new QTreeWidget(this);
    list->setObjectName(QStringLiteral("historyList"));
    list->setRootIsDecorated(false);
    list->setHeaderLabels({tr("Time"), tr("Product"), tr("Code"), tr("Address"), tr("From"),
                           tr("To"), tr("Result"), tr("Error"), tr("Duration (ms)")});
    const QList<QJsonObject> entries = historyEntries(historyText);
    for (auto entry = entries.crbegin(); entry != entries.crend(); ++entry) {
        QStringList cells;
        for (const char* key :
             {"time", "product", "code", "address", "from_version", "to_version", "result"}) {
            cells << entry->value(QLatin1String(key)).toString();
        }
        for (const char* key : {"error_code", "duration_ms"}) {
            cells << QString::number(entry->value(QLatin1String(key)).toVariant().toLongLong());
        }
        list->addTopLevelItem(new QTreeWidgetItem(cells));
    }
    list->header()->resizeSections(QHeaderView::ResizeToContents);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(list);
    layout->addWidget(buttons);
    resize(760, 360);
}

} // namespace kv::portal
