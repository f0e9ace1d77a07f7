#include "core/Product.h"

#include "core/download/PackageName.h"
#include "platform/PathSeparator.h"
#include "platform/ProgramFilesFolder.h"
#include "platform/ProgramLocation.h"
#include "platform/ProgramVersion.h"

namespace kv::portal {

Product::Product(ProductCode productCode, std::string productName, std::string productAddress,
                 const Version& productVersion)
    : name(std::move(productName)), code(productCode), address(std::move(productAddress)),
      version(productVersion) {
    if (!productVersion.isValid() && !isFirmware()) {
        refreshInstalledVersion();
    }
}

bool Product::refreshInstalledVersion() {
    if (code == code::KVPORTAL) {
        return takeOwnVersion();
    }
    const char* executable = executablePath(code);
    std::string path = platform::programFilesFolder();
    if (executable == nullptr) {
        address.set(path);
        return false;
    }
    path += executable;
    address.set(path);
    Version installed = version.get();
    if (!installed.readFromExecutable(path)) {
        return false;
    }
    version.set(installed);
    return true;
}

// This program is the KVPORTAL product: it is the version it was built as, wherever it was
// installed, until it runs again (an installed update may set the release's version meanwhile).
bool Product::takeOwnVersion() {
    address.set(platform::programPath());
    if (version.get().isValid()) {
        return false;
    }
    const platform::ProgramVersion own = platform::programVersion();
    version.set(Version(own.major, own.minor, own.revision, own.build));
    return true;
}

bool Product::isUpdateAvailable() const {
    const CloudPtr release = cloud.get();
    if (!release) {
        return false;
    }
    return release->version > version.get() || !running;
}

std::string Product::downloadPath(const std::string& baseDirectory, bool includeFile) const {
    const CloudPtr release = cloud.get();
    if (!release) {
        return {};
    }
    // A name from the catalogue that would lead out of the package folder names no package:
    // no caller may delete, hash, upload or run what it points at.
    if (includeFile && !isSafePackageName(release->fileName)) {
        return {};
    }
    std::string path =
        baseDirectory + platform::kPathSeparator + (isFirmware() ? "Firmware" : "Software");
    if (includeFile) {
        path += platform::kPathSeparator + release->fileName;
    }
    return path;
}

std::string Product::statusText() const {
    return kv::portal::statusText(status, errorCode);
}

} // namespace kv::portal
