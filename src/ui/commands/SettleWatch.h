#pragma once

#include "core/Core.h"

#include <atomic>
#include <cstdint>
#include <string>

namespace kv::portal {

// Whether the studio has settled for a command that acts on all of it: discovery quiet, the
// first sync over, and every product evaluated when the catalogue was read. Fed by the
// command's listener calls, from core threads.
class SettleWatch {
public:
    SettleWatch();

    void changed();
    void syncStarted();
    void syncFinished(Core* core, const std::string& message);

    bool settled(Core* core) const;
    bool catalogueRead() const { return catalogueRead_; }

private:
    std::atomic<bool> syncing_{false};
    std::atomic<int> syncsFinished_{0};
    std::atomic<bool> catalogueRead_{false};
    std::atomic<int64_t> lastChangeMs_;
};

} // namespace kv::portal
