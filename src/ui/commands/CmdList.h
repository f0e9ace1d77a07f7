#pragma once

#include "ui/commands/ICmd.h"

#include <QDeadlineTimer>
#include <QTimer>

#include <atomic>
#include <cstdint>
#include <string>

namespace kv::portal {

// "--list": once discovery is quiet and the first sync has evaluated every product, or when the
// wait is over, prints every product as a table or as JSON and ends the program with 0, or with
// 2 when the catalogue could not be read.
class CmdList : public ICmd {
public:
    CmdList(Core* core, bool json, int waitSeconds);
    ~CmdList() override;

    void productAdded(Core*, ProductPtr) override { changed(); }
    void productRemoved(Core*, ProductPtr) override { changed(); }
    void syncStarted(Core*) override;
    void syncFinished(Core* core, const std::string& message) override;

private:
    void changed();
    void checkSettled();
    bool everyProductEvaluated();
    std::string listing();

    const bool json_;
    const QDeadlineTimer deadline_;
    // Owned by the interface thread; the listener calls come from core threads.
    QTimer check_;
    std::atomic<bool> syncing_{false};
    std::atomic<int> syncsFinished_{0};
    std::atomic<bool> catalogueRead_{false};
    std::atomic<int64_t> lastChangeMs_;
};

} // namespace kv::portal
