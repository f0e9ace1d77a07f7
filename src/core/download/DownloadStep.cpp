#include "core/ResultCodes.h"
#include "core/download/DownloadQueue.h"
#include "core/download/PackageName.h"
#include "core/download/ResumeRecord.h"
#include "core/workers/DequeProcess.h"
#include "platform/PathSeparator.h"
#include "ru_rod.h"

#include <filesystem>
#include <system_error>

namespace kv::portal {

namespace {

// A transfer lands under this suffix and takes the package's name only once it is complete,
// so a crash or kill mid-transfer never leaves something that counts as downloaded.
constexpr const char* kPartialSuffix = ".partial";
// Beside an unfinished file that the next request for its release may continue.
constexpr const char* kResumeSuffix = ".resume";

// Which release an unfinished file belongs to: its file name is the file's own.
std::string releaseKey(const Product::Cloud& release) {
    return versionText(release.version) + " " + release.md5;
}

void removePartial(const std::string& path) {
    std::error_code error;
    if (!std::filesystem::remove(path, error) && error) {
        KV_LOG(4, "Failed to remove unfinished downloaded file %s: %s\n", path.c_str(),
               error.message().c_str());
    }
}

} // namespace

kvcurl::ProgressFunction DownloadQueue::progressFunction(const ProductPtr& product,
                                                         const std::string& fileName) {
    return [this, product, fileName](const kvcurl::session*, int64_t downloadTotal,
                                     int64_t downloadNow, int64_t, int64_t) -> int32_t {
        const ProductPtr front = worker_->front();
        if (!front || front->name != product->name) {
            return -1;
        }
        core_.setStatus(product, Downloading);
        // Before the server announced the size this is 0/0: listeners get a NaN and cope.
        const float fraction = static_cast<float>(downloadNow) / static_cast<float>(downloadTotal);
        core_.notifyListeners([&](Core::Listener& listener) {
            listener.downloadProgress(&core_, product->name.c_str(), fileName.c_str(), fraction);
        });
        return 0;
    };
}

int32_t DownloadQueue::downloadProduct(const std::string& name, bool mayResume, bool* resumed) {
    const ProductPtr product = core_.findProduct(name);
    if (!product) {
        return result::kNoRelease;
    }
    const Product::CloudPtr release = product->cloud.get();
    if (!release) {
        KV_LOG(6, "Download skipping %s(%s): No cloud\n", product->code, name.c_str());
        return result::kNoRelease;
    }
    if (!isSafePackageName(release->fileName)) {
        KV_LOG(3, "Download refused %s(%s) %s from %s: unsafe file name \"%s\"\n", product->code,
               name.c_str(), versionText(release->version).c_str(), release->link.c_str(),
               release->fileName.c_str());
        return result::kNoRelease;
    }
    if (isDownloaded(product)) {
        KV_LOG(6, "Download skipping %s(%s): Already exists\n", product->code, name.c_str());
        return 0;
    }
    if (!product->isUpdateAvailable()) {
        KV_LOG(6, "Download skipping %s(%s): Already up to date\n", product->code, name.c_str());
        return 0;
    }

    KV_LOG(6, "Downloading %s...\n", release->link.c_str());
    const std::string path =
        downloadPath(product, false) + platform::kPathSeparator + release->fileName;
    const std::string partial = path + kPartialSuffix;
    const std::string record = partial + kResumeSuffix;
    kvcurl::resume_point resume;
    if (mayResume) {
        resume.validator = readResumeValidator(record, releaseKey(*release));
    }
    // Without a record the unfinished file's bytes are of unknown origin: never continued.
    if (resume.validator.empty()) {
        removePartial(partial);
    } else {
        std::error_code error;
        KV_LOG(6, "Download resuming %s(%s) after %llu bytes\n", product->code, name.c_str(),
               static_cast<unsigned long long>(std::filesystem::file_size(partial, error)));
    }
    // Written again only once the transfer is over, so a run killed meanwhile starts afresh.
    removePartial(record);
    int32_t result = kvcurl::download(release->link, partial,
                                      progressFunction(product, release->fileName), &resume);
    if (resumed != nullptr) {
        *resumed = resume.resumed;
    }
    if (result == 0) {
        std::error_code error;
        std::filesystem::rename(partial, path, error);
        if (error) {
            KV_LOG(3, "Failed to store downloaded file %s: %s\n", path.c_str(),
                   error.message().c_str());
            result = result::kWriteError;
        }
    }
    if (result == 0) {
        KV_LOG(6, "Download success for %s %s\n", product->code, name.c_str());
        return 0;
    }
    KV_LOG(6, "Download failed for %s %s: %d\n", product->code, name.c_str(), result);
    // What arrived of a cut transfer is kept when the server can continue it; a cancelled
    // download leaves nothing.
    if (result == result::kAbortedByCallback || resume.validator.empty() ||
        !writeResumeRecord(record, releaseKey(*release), resume.validator)) {
        removePartial(partial);
    }
    return result;
}

void DownloadQueue::process(const ProductPtr& product) {
    bool resumed = false;
    int32_t result = downloadProduct(product->name, true, &resumed);
    for (;;) {
        if (result == result::kAbortedByCallback) {
            core_.setStatus(product, Evaluate);
            return;
        }
        if (result != 0) {
            product->errorCode = result;
            core_.setStatus(product, DownloadError);
            return;
        }
        // Also when the check is trivial (no digest, or verified before): the transfer is over,
        // and a product still shown as downloading would never evaluate as downloaded.
        core_.setStatus(product, VerifyingMd5);
        if (verifyDownload(product)) {
            break;
        }
        if (!resumed) {
            product->errorCode = result::kUnverified;
            core_.setStatus(product, DownloadError);
            return;
        }
        // The bytes kept from before may be what spoilt it: once more, from the first byte.
        const std::string path = downloadPath(product, true);
        KV_LOG(4, "Resumed download %s failed verification; downloading it in full\n",
               path.c_str());
        removePartial(path);
        resumed = false;
        result = downloadProduct(product->name, false);
    }
    if (product->updateAfterDownload && core_.canUpdate(product)) {
        core_.requestUpdate(product);
        return;
    }
    core_.setStatus(product, Evaluate);
}

} // namespace kv::portal
