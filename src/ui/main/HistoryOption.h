#pragma once

#include <string>

namespace kv::portal {

// The text of "history.jsonl" in the program folder; empty when there is none.
std::string readHistoryFile();

// The history's lines, oldest first, as a table or as one JSON array; lines that are not a JSON
// object (a line cut by a crash) are left out.
std::string historyReport(const std::string& text, bool json);

} // namespace kv::portal
