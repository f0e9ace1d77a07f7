#include "ui/commands/HistoryEntries.h"

#include "core/update/UpdateHistory.h"
#include "platform/FileOpening.h"
#include "platform/PathSeparator.h"

#include <QByteArray>
#include <QJsonDocument>

#include <cstdio>

namespace kv::portal {

std::string readHistoryFile(const std::string& programFolder) {
    const platform::FilePtr file =
        platform::openForReading(programFolder + platform::kPathSeparator + kHistoryFileName);
    std::string text;
    if (file) {
        char buffer[65536];
        for (size_t read; (read = std::fread(buffer, 1, sizeof buffer, file.get())) > 0;) {
            text.append(buffer, read);
        }
    }
    return text;
}

QList<QJsonObject> historyEntries(const std::string& text) {
    QList<QJsonObject> entries;
    for (const QByteArray& line : QByteArray::fromStdString(text).split('\n')) {
        const QJsonDocument document = QJsonDocument::fromJson(line);
        if (document.isObject()) {
            entries.append(document.object());
        }
    }
    return entries;
}

} // namespace kv::portal
