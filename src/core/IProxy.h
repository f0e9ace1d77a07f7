#pragma once

#include <string>

namespace kv::portal {

// Settings and program starts, as the core needs them; implemented outside the core.
// Called from several threads.
class IProxy {
public:
    virtual ~IProxy() = default;
    virtual int getInt(const char* key, int defaultValue) = 0;
    virtual std::string getString(const char* key, const std::string& defaultValue) = 0;
    // With wait: the exit code, or -1 when the program could not be started or crashed.
    virtual int runProgram(const char* program, const char* workingDirectory, int argumentCount,
                           const char* const* arguments, bool wait) = 0;
    virtual int runInstaller(const char* path, const char* secondArgument) = 0;
};

} // namespace kv::portal
