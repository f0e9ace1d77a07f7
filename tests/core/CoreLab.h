#pragma once

#include "CoreTestEnvironment.h"
#include "InstallerProxy.h"
#include "TransferRecorder.h"
#include "core/Core.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

namespace kv::test {

// A core in a private home whose events are recorded: the lab of the download, update and
// device tests. The installers outlive the core, whose update worker may still run one.
class CoreLab : public ::testing::Test {
protected:
    CoreLab() { core_->addListener(&events_); }
    ~CoreLab() override { stopCore(); }

    static std::string status(const std::string& name, const std::string& text) {
        return "status " + name + " " + text;
    }

    // Waits until the core's download and update queues are empty and their workers done.
    bool idle() { return core_->waitUntilIdle(std::chrono::minutes(1)); }

    // Ends the core, joining its threads: events recorded later are none of its own.
    void stopCore() {
        if (core_) {
            core_->removeListener(&events_);
            core_.reset();
        }
    }

    CoreTestEnvironment environment_;
    Installers installers_;
    std::unique_ptr<kv::portal::Core> core_ = std::make_unique<kv::portal::Core>();
    TransferRecorder events_;
};

} // namespace kv::test
