#include "ui/QtProxy.h"

#include "platform/InstallerStart.h"
#include "ru_rod.h"

#include <QProcess>
#include <QStringList>

#include <optional>
#include <vector>

namespace kv::portal {

namespace {

const char* const kOrganization = "Kelmora Technologies";
const char* const kApplication = "KVPortal";

QString fromUtf8(const char* text) {
    return QString::fromUtf8(text != nullptr ? text : "");
}

} // namespace

QtProxy::QtProxy()
    : systemSettings(QSettings::NativeFormat, QSettings::SystemScope, kOrganization, kApplication),
      userSettings(QSettings::NativeFormat, QSettings::UserScope, kOrganization, kApplication) {
    // Settings files hold UTF-8 text like every other text of the program.
    systemSettings.setIniCodec("UTF-8");
    userSettings.setIniCodec("UTF-8");
}

QVariant QtProxy::value(const char* key, const QVariant& defaultValue) {
    const QString name = fromUtf8(key);
    std::lock_guard<std::mutex> lock(settingsMutex);
    // Picks up what was changed on disk since the last call.
    systemSettings.sync();
    if (systemSettings.contains(name)) {
        return systemSettings.value(name, defaultValue);
    }
    userSettings.sync();
    return userSettings.value(name, defaultValue);
}

int QtProxy::getInt(const char* key, int defaultValue) {
    return value(key, defaultValue).toInt();
}

std::string QtProxy::getString(const char* key, const std::string& defaultValue) {
    const QVariant stored = value(key, QString::fromStdString(defaultValue));
    // An INI value with an unquoted comma reads as a list; the text is what was written.
    const QString text = stored.type() == QVariant::StringList
                             ? stored.toStringList().join(QLatin1Char(','))
                             : stored.toString();
    return text.toUtf8().toStdString();
}

int QtProxy::runProgram(const char* program, const char* workingDirectory, int argumentCount,
                        const char* const* arguments, bool wait) {
    const char* name = program != nullptr ? program : "";
    QProcess process;
    if (workingDirectory != nullptr) {
        process.setWorkingDirectory(QString::fromUtf8(workingDirectory));
    }
    QStringList argumentList;
    for (int index = 0; arguments != nullptr && index < argumentCount; ++index) {
        argumentList << fromUtf8(arguments[index]);
    }
    process.setProgram(QString::fromUtf8(name));
    process.setArguments(argumentList);
    if (!wait) {
        process.startDetached();
        return 0;
    }
    process.start(QIODevice::ReadWrite);
    if (!process.waitForStarted(-1)) {
        KV_LOG(3, "Cannot start %s: %s\n", name, qUtf8Printable(process.errorString()));
        return -1;
    }
    // Nothing is ever written to the program; a program reading its input must not wait forever.
    process.closeWriteChannel();
    process.waitForFinished(-1);
    if (process.exitStatus() == QProcess::CrashExit) {
        KV_LOG(3, "%s crashed\n", name);
        return -1;
    }
    return process.exitCode();
}

int QtProxy::runInstaller(const char* path, [[maybe_unused]] const char* secondArgument) {
    const char* installer = path != nullptr ? path : "";
    const std::optional<platform::InstallerStart> start = platform::installerStart(installer);
    if (!start) {
        KV_LOG(3, "Cannot start %s: not a Windows installer, or wine is not installed\n",
               installer);
        return -1;
    }
    std::vector<const char*> arguments;
    for (const std::string& argument : start->arguments) {
        arguments.push_back(argument.c_str());
    }
    return runProgram(start->program.c_str(), nullptr, static_cast<int>(arguments.size()),
                      arguments.data(), true);
}

} // namespace kv::portal
