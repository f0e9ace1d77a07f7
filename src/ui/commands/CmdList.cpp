#include "ui/commands/CmdList.h"

#include "core/Status.h"
#include "ui/commands/TextTable.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>
#include <vector>

namespace kv::portal {

namespace {

// Discovery counts as quiet once no device came or went for this long.
constexpr int64_t kQuietMs = 2000;
constexpr int kCheckMs = 100;

using Row = std::vector<std::string>;
const Row kHeader{"NAME", "CODE", "ADDRESS", "INSTALLED", "RELEASED", "STATUS"};

int64_t nowMs() {
    return QDateTime::currentMSecsSinceEpoch();
}

} // namespace

CmdList::CmdList(Core* core_, bool json, int waitSeconds)
    : ICmd(core_), json_(json), deadline_(static_cast<qint64>(waitSeconds) * 1000),
      lastChangeMs_(nowMs()) {
    QObject::connect(&check_, &QTimer::timeout, &check_, [this] { checkSettled(); });
    check_.start(kCheckMs);
}

CmdList::~CmdList() {
    // Core threads may still report while the members go.
    core->removeListener(this);
}

void CmdList::changed() {
    lastChangeMs_ = nowMs();
}

void CmdList::syncStarted(Core*) {
    syncing_ = true;
    changed();
}

void CmdList::syncFinished(Core* core_, const std::string& message) {
    // A failed fetch still reads the catalogue when its local copy stands in.
    catalogueRead_ = message.empty() || core_->usingLocalFile();
    syncing_ = false;
    ++syncsFinished_;
    changed();
}

bool CmdList::everyProductEvaluated() {
    bool evaluated = true;
    core->forEachProduct([&](const ProductPtr& product) {
        evaluated = isSettledStatus(product->status) || isErrorStatus(product->status);
        return evaluated;
    });
    return evaluated;
}

void CmdList::checkSettled() {
    const bool settled = syncsFinished_ > 0 && !syncing_ && nowMs() - lastChangeMs_ >= kQuietMs &&
                         (!catalogueRead_ || everyProductEvaluated());
    if (!settled && !deadline_.hasExpired()) {
        return;
    }
    check_.stop();
    const std::string text = listing();
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
    QCoreApplication::exit(catalogueRead_ ? 0 : 2);
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
