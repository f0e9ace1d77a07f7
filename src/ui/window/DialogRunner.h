#pragma once

#include <functional>

class QDialog;

namespace kv::portal {

// Answers a fully built dialog in place of the user and returns its result code.
using DialogAnswerer = std::function<int(QDialog& dialog)>;

// The window's own modal dialogs run through here. While an answerer is set it receives them
// instead of the user; tests pass through questions this way. An empty function restores
// the real dialogs.
void setDialogAnswerer(DialogAnswerer answerer);
int runDialog(QDialog& dialog);

} // namespace kv::portal
