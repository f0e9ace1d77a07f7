#pragma once

#include "core/Guarded.h"
#include "core/ProductCode.h"
#include "core/Status.h"
#include "core/Version.h"

#include <atomic>
#include <memory>
#include <string>

namespace kv::portal {

class Product;
using ProductPtr = std::shared_ptr<Product>;

// A device found on the network or an application installed on this computer. Products are
// shared between the core's list, the workers and the window; fields that other threads
// change after the product is published are atomic or guarded.
class Product {
public:
    // The release record of one product, built from one catalogue entry. Records are never
    // edited once a product holds them: a changed record is a new record.
    struct Cloud {
        // Stands in place of the digest once the package has verified against it.
        static constexpr const char* kVerifiedMd5 = "OK";

        Version version;
        std::string fileName;
        std::string md5;
        std::string link;
        std::string releaseNotesLink;
        std::string agreementLink;
    };
    using CloudPtr = std::shared_ptr<const Cloud>;

    Product(ProductCode code, std::string name, std::string address, const Version& version);
    Product(const Product&) = delete;
    Product& operator=(const Product&) = delete;

    const std::string name;
    const ProductCode code;
    Guarded<std::string> address;
    Guarded<std::string> serial;
    Guarded<Version> version;
    std::atomic<uint32_t> presenceCount{1};
    Guarded<CloudPtr> cloud;
    // Set once, when the device's probe answers after the product entered the core's list.
    Guarded<ProductPtr> twin;
    std::atomic<bool> running{true};
    std::atomic<uint32_t> status{None};
    std::atomic<int32_t> errorCode{0};
    Guarded<std::string> note;
    std::atomic<bool> updateAfterDownload{false};

    bool refreshInstalledVersion();
    bool isFirmware() const { return isFirmwareCode(code); }
    bool isDante() const { return isDanteCode(code); }
    bool isUpdateAvailable() const;
    // The package folder below the base directory, with the package file when asked for; empty
    // without a release, or when the release's file name would lead out of the folder.
    std::string downloadPath(const std::string& baseDirectory, bool includeFile) const;
    std::string statusText() const;

private:
    bool takeOwnVersion();
};

} // namespace kv::portal
