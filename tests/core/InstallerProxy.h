#pragma once

#include "FixedSettings.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace kv::test {

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

} // namespace kv::test
