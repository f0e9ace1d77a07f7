#pragma once

#include <QDialog>

#include <string>

namespace kv::portal {

// Help > Update History: every update attempt of the history file, newest first, read-only.
class HistoryView : public QDialog {
    Q_OBJECT

public:
    HistoryView(QWidget* parent, const std::string& historyText);
};

} // namespace kv::portal
