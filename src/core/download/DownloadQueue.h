#pragma once

#include "core/Core.h"
#include "core/Guarded.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

namespace kv::portal {

class PackageDigests;

// The downloads: the folder they go to, the queue of products waiting for their package with
// the worker that fetches them one at a time, and the packages' verification. The queue has
// its own lock (`lock`); the folder and the digests guard themselves.
class DownloadQueue {
public:
    // Makes the download folders. The core settles the products' statuses and hands a
    // verified package on to its update.
    explicit DownloadQueue(Core& core);
    // Joins the worker after the job under way.
    ~DownloadQueue();
    DownloadQueue(const DownloadQueue&) = delete;
    DownloadQueue& operator=(const DownloadQueue&) = delete;

    bool createDownloadDirectories();
    std::string downloadsDir() const { return downloadsDir_.get(); }
    std::string downloadPath(const ProductPtr& product, bool includeFile) const;

    // Queues the product's download unless it is queued already.
    void request(const ProductPtr& product);
    // Takes the product off the queue; a download under way stops at its next progress report.
    bool cancel(const std::string& name);
    ProductPtr find(const std::string& name) const;
    // Drops what is queued and returns it.
    std::deque<ProductPtr> clear();
    // Read without the lock, for the interface's busy checks.
    bool busy() const;
    void stop();
    bool working() const;
    // True once the worker has run dry, false when the deadline came first.
    bool waitUntilIdle(std::chrono::steady_clock::time_point deadline);
    std::recursive_mutex& lock() const;

    bool isDownloaded(const ProductPtr& product);
    bool verifyDownload(const ProductPtr& product);
    // 32 lower-case hexadecimal digits, or "?" when the file cannot be read.
    static std::string md5File(const std::string& path);

    // The download step for the worker's front product and what follows it.
    void process(const ProductPtr& product);

private:
    // 0 when the package is in place, -1 without product or release, else libcurl's code.
    // Unless told otherwise, an unfinished file of the same release is continued; `resumed`
    // tells whether it was.
    int32_t downloadProduct(const std::string& name, bool mayResume = true,
                            bool* resumed = nullptr);
    // Aborts the transfer once the product is no longer the worker's front entry.
    kvcurl::ProgressFunction progressFunction(const ProductPtr& product,
                                              const std::string& fileName);

    Core& core_;
    Guarded<std::string> downloadsDir_;
    // Set up once the program folder is known.
    std::unique_ptr<PackageDigests> digests_;
    std::unique_ptr<Core::DownloadProcess> worker_;
};

} // namespace kv::portal
