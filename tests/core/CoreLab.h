#pragma once

#include "CoreTestEnvironment.h"
#include "FixedSettings.h"
#include "RecordingListener.h"
#include "core/Core.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace kv::test {

// Records, beside the core's other events, the update progress the devices report, and each
// product's first download report and first bytes.
class TransferRecorder : public RecordingListener {
public:
    void updateProgress(kv::portal::Core*, const char* productName, int state, const char* text,
                        int percent) override {
        record(std::string("progress ") + productName + " " + std::to_string(state) + " " +
               std::to_string(percent) + " " + (text ? text : "(no text)"));
    }

    void downloadProgress(kv::portal::Core*, const char* productName, const char* fileName,
                          const float& fraction) override {
        once(std::string("downloading ") + productName + " " + fileName);
        if (fraction > 0 && fraction <= 1) {
            once(std::string("received ") + productName);
        }
    }

private:
    // Only the download worker reports downloads: no other thread records these in between.
    void once(const std::string& event) {
        if (count(event) == 0) {
            record(event);
        }
    }
};

// Installers that really run in the shell. A Linux exit status has 8 bits: an installer prints
// the 32-bit Windows Installer code it ends with, or gives its exit status. One that cannot
// start or is killed gives -1, as the program's proxy reports it. Owned by the test, so that it
// outlives the core.
class Installers {
public:
    // The installers started so far, in order.
    std::vector<std::string> started() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return started_;
    }

    int run(const std::string& path) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            started_.push_back(path);
        }
        FILE* shell = ::access(path.c_str(), R_OK) == 0
                          ? ::popen(("/bin/sh '" + path + "'").c_str(), "r")
                          : nullptr;
        int printed = 0;
        const bool gave = shell != nullptr && std::fscanf(shell, "%d", &printed) == 1;
        const int status = shell != nullptr ? ::pclose(shell) : -1;
        return status == -1 || !WIFEXITED(status) ? -1 : gave ? printed : WEXITSTATUS(status);
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> started_;
};

// Settings a test decides, and the test's installers.
class InstallerProxy : public FixedSettings {
public:
    explicit InstallerProxy(Installers& installers) : installers_(installers) {}

    int runInstaller(const char* path, const char*) override { return installers_.run(path); }

private:
    Installers& installers_;
};

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
