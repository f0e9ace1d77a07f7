#pragma once

#include "ui/commands/ICmd.h"
#include "ui/commands/SettleWatch.h"

#include <QDeadlineTimer>
#include <QTimer>

#include <cstdio>
#include <deque>
#include <mutex>
#include <optional>
#include <string>

namespace kv::portal {

// "--update-all": once the studio has settled as for "--list", updates every device whose
// release is newer, one at a time, through the window's own download, verification, upload and
// reboot steps, and prints one line per device as it ends. Exits with 0 when every update
// succeeded, 1 when any failed, 2 when none could be started (no catalogue, no device).
class CmdUpdateAll : public ICmd {
public:
    struct Options {
        int waitSeconds = 10;
        bool dryRun = false;
        bool includeSoftware = false;
    };

    // Prints to `out`, which outlives the command.
    CmdUpdateAll(Core* core, const Options& options, std::FILE* out);
    ~CmdUpdateAll() override;

    void productAdded(Core*, ProductPtr) override { settle_.changed(); }
    void productRemoved(Core*, ProductPtr) override { settle_.changed(); }
    void syncStarted(Core*) override { settle_.syncStarted(); }
    void syncFinished(Core* source, const std::string& message) override {
        settle_.syncFinished(source, message);
    }
    void updateEnded(Core*, const HistoryEntry& entry) override;

private:
    void tick();
    // Prints the plan's skipped devices and queues the others; false when nothing can start.
    bool plan();
    void startNext();
    void followCurrent();
    void finish(int exitCode);
    void say(const std::string& line);

    const Options options_;
    std::FILE* const out_;
    const QDeadlineTimer deadline_;
    // Owned by the interface thread, which runs every step but updateEnded.
    QTimer tick_;
    SettleWatch settle_;
    bool planned_ = false;
    bool anyFailed_ = false;
    std::deque<std::string> waiting_;
    std::mutex currentMutex_;
    // Guarded by currentMutex_: the product being updated and, once it ended, its record.
    std::string current_;
    std::optional<HistoryEntry> ended_;
};

} // namespace kv::portal
