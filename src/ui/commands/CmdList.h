#pragma once

#include "ui/commands/ICmd.h"
#include "ui/commands/SettleWatch.h"

#include <QDeadlineTimer>
#include <QTimer>

#include <cstdio>
#include <string>

namespace kv::portal {

// "--list": once discovery is quiet and the first sync has evaluated every product, or when the
// wait is over, prints every product as a table or as JSON and ends the program with 0, or with
// 2 when the catalogue could not be read.
class CmdList : public ICmd {
public:
    // Prints to `out`, which outlives the command.
    CmdList(Core* core, bool json, int waitSeconds, std::FILE* out);
    ~CmdList() override;

    void productAdded(Core*, ProductPtr) override { settle_.changed(); }
    void productRemoved(Core*, ProductPtr) override { settle_.changed(); }
    void syncStarted(Core*) override { settle_.syncStarted(); }
    void syncFinished(Core* source, const std::string& message) override {
        settle_.syncFinished(source, message);
    }

private:
    void checkSettled();
    std::string listing();

    const bool json_;
    std::FILE* const out_;
    const QDeadlineTimer deadline_;
    // Owned by the interface thread; the listener calls come from core threads.
    QTimer check_;
    SettleWatch settle_;
};

} // namespace kv::portal
