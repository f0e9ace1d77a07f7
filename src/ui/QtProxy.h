#pragma once

#include "core/IProxy.h"

#include <QSettings>

#include <mutex>

namespace kv::portal {

// Settings from the machine-wide store before the user's, and programs started with QProcess.
// Settings are read anew on every call and never written.
class QtProxy : public IProxy {
public:
    QtProxy();

    int getInt(const char* key, int defaultValue) override;
    std::string getString(const char* key, const std::string& defaultValue) override;
    int runProgram(const char* program, const char* workingDirectory, int argumentCount,
                   const char* const* arguments, bool wait) override;
    int runInstaller(const char* path, const char* secondArgument) override;

private:
    QVariant value(const char* key, const QVariant& defaultValue);

    // QSettings objects must not be used by two threads at once.
    std::mutex settingsMutex;
    QSettings systemSettings;
    QSettings userSettings;
};

} // namespace kv::portal
