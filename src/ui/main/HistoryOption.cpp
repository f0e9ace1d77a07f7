#include "ui/main/HistoryOption.h"

#include "platform/DownloadsFolder.h"
#include "platform/PathSeparator.h"
#include "ui/commands/HistoryEntries.h"
#include "ui/commands/TextTable.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace kv::portal {

std::string readHistoryFile() {
    const std::optional<std::string> downloads = platform::downloadsFolder();
    return downloads ? readHistoryFile(*downloads + platform::kPathSeparator + "KV")
                     : std::string();
}

std::string historyReport(const std::string& text, bool json) {
    QJsonArray entries;
    std::vector<std::vector<std::string>> rows{
        {"TIME", "PRODUCT", "CODE", "ADDRESS", "FROM", "TO", "RESULT", "ERROR", "MS"}};
    for (const QJsonObject& entry : historyEntries(text)) {
        entries.append(entry);
        const auto textOf = [&](const char* key) {
            return entry.value(QLatin1String(key)).toString().toStdString();
        };
        const auto numberOf = [&](const char* key) {
            return std::to_string(entry.value(QLatin1String(key)).toVariant().toLongLong());
        };
        rows.push_back({textOf("time"), textOf("product"), textOf("code"), textOf("address"),
                        textOf("from_version"), textOf("to_version"), textOf("result"),
                        numberOf("error_code"), numberOf("duration_ms")});
    }
    if (json) {
        return QJsonDocument(entries).toJson(QJsonDocument::Indented).toStdString();
    }
    return textTable(rows);
}

} // namespace kv::portal
