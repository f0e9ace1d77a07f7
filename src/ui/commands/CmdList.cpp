#include "ui/commands/CmdList.h"

#include "ui/commands/TextTable.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>
#include <vector>

namespace kv::portal {

namespace {

constexpr int kCheckMs = 100;

using Row = std::vector<std::string>;
const Row kHeader{"NAME", "CODE", "ADDRESS", "INSTALLED", "RELEASED", "STATUS"};

} // namespace

CmdList::CmdList(Core* core_, bool json, int waitSeconds, std::FILE* out)
    : ICmd(core_), json_(json), out_(out), deadline_(static_cast<qint64>(waitSeconds) * 1000) {
    QObject::connect(&check_, &QTimer::timeout, &check_, [this] { checkSettled(); });
    check_.start(kCheckMs);
}

CmdList::~CmdList() {
    // Core threads may still report while the members go.
    core->removeListener(this);
}

void CmdList::checkSettled() {
    if (!settle_.settled(core) && !deadline_.hasExpired()) {
        return;
    }
    check_.stop();
    const std::string text = listing();
    std::fwrite(text.data(), 1, text.size(), out_);
    std::fflush(out_);
    QCoreApplication::exit(settle_.catalogueRead() ? 0 : 2);
}

std::string CmdList::listing() {
    QJsonArray array;
    std::vector<Row> rows{kHeader};
    core->forEachProduct([&](const ProductPtr& product) {
        const Product::CloudPtr cloud = product->cloud.get();
        const Row row{product->name,
                      product->code,
                      product->address.get(),
                      versionText(product->version.get()),
                      cloud ? versionText(cloud->version) : std::string(),
                      product->statusText()};
        rows.push_back(row);
        QJsonObject object;
        object[QStringLiteral("name")] = QString::fromStdString(row[0]);
        object[QStringLiteral("code")] = QString::fromStdString(row[1]);
        object[QStringLiteral("address")] = QString::fromStdString(row[2]);
        object[QStringLiteral("installed")] = QString::fromStdString(row[3]);
        object[QStringLiteral("released")] =
            cloud ? QJsonValue(QString::fromStdString(row[4])) : QJsonValue();
        object[QStringLiteral("status")] = static_cast<int>(product->status.load());
        object[QStringLiteral("status_text")] = QString::fromStdString(row[5]);
        array.append(object);
        return true;
    });
    if (json_) {
        return QJsonDocument(array).toJson(QJsonDocument::Indented).toStdString();
    }
    return textTable(rows);
}

} // namespace kv::portal
