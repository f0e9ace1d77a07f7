#pragma once

#include "core/Core.h"

namespace kv::portal {

// A job given on the command line: it listens to the core from construction to destruction
// and ends the program once its job is over.
class ICmd : public Core::Listener {
public:
    explicit ICmd(Core* core);
    ~ICmd() override;
    ICmd(const ICmd&) = delete;
    ICmd& operator=(const ICmd&) = delete;

protected:
    // Ends the event loop of the interface thread; callable from any thread.
    static void quitApplication();

    Core* const core;
};

} // namespace kv::portal
