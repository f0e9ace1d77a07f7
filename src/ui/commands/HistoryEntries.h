#pragma once

#include <QJsonObject>
#include <QList>

#include <string>

namespace kv::portal {

// The text of "history.jsonl" in the program folder; empty when there is none.
std::string readHistoryFile(const std::string& programFolder);

// The history's entries, oldest first; lines that are not a JSON object (a line cut by a crash)
// are left out.
QList<QJsonObject> historyEntries(const std::string& text);

} // namespace kv::portal
