#pragma once

#include "FixedSettings.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <mutex>
#include <string>
#include <vector>

extern char** environ;

namespace kv::test {

// Installers that really run: the package is started with the shell and waited for. A Linux
// exit status has 8 bits, so `reportAs` names the 32-bit Windows Installer code that an exit
// status stands for. A package that is not there cannot be started: -1, as the program's proxy
// reports it, and so is an installer killed by a signal. Owned by the test, so that it outlives
// the core.
class Installers {
public:
    void reportAs(int exitStatus, int installerCode) {
        std::lock_guard<std::mutex> lock(mutex_);
        codes_[exitStatus] = installerCode;
    }

    // The installers started so far, in order.
    std::vector<std::string> started() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return started_;
    }

    int run(const char* path) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            started_.push_back(path);
        }
        if (::access(path, R_OK) != 0) {
            return -1;
        }
        std::string shell = "/bin/sh";
        std::string script = path;
        char* argv[] = {shell.data(), script.data(), nullptr};
        pid_t pid = -1;
        if (::posix_spawn(&pid, shell.c_str(), nullptr, nullptr, argv, environ) != 0) {
            return -1;
        }
        int status = 0;
        if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) {
            return -1;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        const auto code = codes_.find(WEXITSTATUS(status));
        return code != codes_.end() ? code->second : WEXITSTATUS(status);
    }

private:
    mutable std::mutex mutex_;
    std::map<int, int> codes_;
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
