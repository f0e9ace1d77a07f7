#include "ui/main/HistoryOption.h"

#include "core/update/UpdateHistory.h"
#include "platform/DownloadsFolder.h"
#include "platform/FileOpening.h"
#include "platform/PathSeparator.h"
#include "ui/commands/TextTable.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>

#include <cstdio>
#include <cstring>

namespace kv::portal {

bool asksForHistory(int argc, const char* const* argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--history") == 0) {
            return true;
        }
    }
    return false;
}

std::string readHistoryFile() {
    const std::optional<std::string> downloads = platform::downloadsFolder();
    if (!downloads) {
        return {};
    }
    const platform::FilePtr file = platform::openForReading(
        *downloads + platform::kPathSeparator + "KV" + platform::kPathSeparator + kHistoryFileName);
    std::string text;
    if (file) {
        char buffer[65536];
        for (size_t read; (read = std::fread(buffer, 1, sizeof buffer, file.get())) > 0;) {
            text.append(buffer, read);
        }
    }
    return text;
}

std::string historyReport(const std::string& text, bool json) {
    QJsonArray entries;
    std::vector<std::vector<std::string>> rows{
        {"TIME", "PRODUCT", "CODE", "ADDRESS", "FROM", "TO", "RESULT", "ERROR", "MS"}};
    const QList<QByteArray> lines = QByteArray::fromStdString(text).split('\n');
    for (const QByteArray& line : lines) {
        const QJsonDocument document = QJsonDocument::fromJson(line);
        if (!document.isObject()) {
            continue;
        }
        const QJsonObject entry = document.object();
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
