#include "core/download/DownloadQueue.h"
#include "core/download/Md5.h"
#include "core/download/PackageDigests.h"
#include "core/download/PackageName.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <vector>

namespace kv::portal {

namespace {

// Packages can be installers of several gigabytes: hash them a chunk at a time, in chunks
// small enough to stay in the processor's cache.
constexpr size_t kChunkSize = 64 * 1024;
constexpr const char* kUnreadable = "?";

} // namespace

std::string DownloadQueue::md5File(const std::string& path) {
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!file) {
        return kUnreadable;
    }
    Md5 md5;
    std::vector<char> chunk(kChunkSize);
    size_t got;
    while ((got = std::fread(chunk.data(), 1, chunk.size(), file.get())) > 0) {
        md5.update(chunk.data(), got);
    }
    if (std::ferror(file.get())) {
        return kUnreadable;
    }
    md5.finalise();
    return md5.hexDigest();
}

bool DownloadQueue::verifyDownload(const ProductPtr& product) {
    if (!product) {
        return false;
    }
    const Product::CloudPtr release = product->cloud.get();
    if (!release || release->md5.empty() || release->md5 == Product::Cloud::kVerifiedMd5) {
        return true;
    }
    if (!product->isUpdateAvailable()) {
        return true;
    }
    // Never downloaded there, and the name may lead to a file that never ends (/dev/zero).
    if (!isSafePackageName(release->fileName)) {
        return false;
    }
    const std::string digest = digests_->digest(downloadPath(product, true),
                                                [&] { core_.setStatus(product, VerifyingMd5); });
    // A catalogue may give the very text that stands for an unreadable file.
    if (digest == kUnreadable || digest != release->md5) {
        return false;
    }
    // Remember the success in a new record, unless the sync replaced the record meanwhile.
    auto verified = std::make_shared<Product::Cloud>(*release);
    verified->md5 = Product::Cloud::kVerifiedMd5;
    product->cloud.compareAndSet(release, verified);
    return true;
}

bool DownloadQueue::isDownloaded(const ProductPtr& product) {
    if (!product) {
        return false;
    }
    const std::string path = downloadPath(product, true);
    std::error_code error;
    return !path.empty() && std::filesystem::exists(path, error) &&
           product->status != Downloading && verifyDownload(product);
}

} // namespace kv::portal
