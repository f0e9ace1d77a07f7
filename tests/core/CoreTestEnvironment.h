#pragma once

#include "TempDir.h"

#include <cstdlib>
#include <string>

namespace kv::test {

// Points the core's Downloads and Program Files folders into a private temporary folder.
class CoreTestEnvironment {
public:
    CoreTestEnvironment() {
        ::setenv("HOME", home_.path().c_str(), 1);
        ::unsetenv("XDG_CONFIG_HOME");
        ::setenv("KVPORTAL_PROGRAM_FILES", home_.file("Program Files").c_str(), 1);
    }

    std::string downloadsDir() const { return home_.path() + "/Downloads/KV"; }
    std::string home() const { return home_.path(); }

private:
    TempDir home_;
};

} // namespace kv::test
