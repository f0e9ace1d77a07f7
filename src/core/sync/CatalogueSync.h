#pragma once

#include "platform/FileIdentity.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace kv::portal {

class Core;
class JsonDocument;
class ProductList;
class StatusFileWriter;

// The catalogue sync: fetches the publish file, or reads its local copy, on a thread of its
// own and gives every product its release record. Requests that come while a sync runs fold
// into it. The publish file, its source flag and the refresh request belong to the sync thread
// while it runs.
class CatalogueSync {
public:
    // A real publish file is well under 10 MB; a larger one, from the server or on disk, is
    // refused before it is read.
    static constexpr std::size_t kPublishFileSizeLimit = 16 * 1024 * 1024;

    // The core settles the products' statuses and knows their jobs and folders.
    CatalogueSync(Core& core, ProductList& products, StatusFileWriter& statusFile);
    // Waits for a running sync to end.
    ~CatalogueSync();
    CatalogueSync(const CatalogueSync&) = delete;
    CatalogueSync& operator=(const CatalogueSync&) = delete;

    void start();
    bool running();
    // True once no sync runs, false when the deadline came first.
    bool waitUntilIdle(std::chrono::steady_clock::time_point deadline);

    bool usingLocalFile() const { return usingLocalFile_; }
    void setForceRefresh() { forceRefresh_ = true; }
    std::string publishFileUrl(bool local) const;

private:
    // The sync thread's body. True when products were matched against a publish file, false
    // when none was available.
    bool run();
    // The local copy in the downloads folder: read into a new publish file, or replaced by the
    // text fetched, as it came.
    bool loadLocalPublishFile();
    bool savePublishFile(const std::string& text);
    // Saves the fetched text unless the copy holds it already: the same catalogue comes at
    // every refresh, and writing it costs more than the rest of the sync.
    void saveFetchedPublishFile(const std::string& text);
    // Serves one request before matching; true when requests came in meanwhile and the sync
    // must start over.
    bool requestsRemain();
    // Ends the sync, unless requests came in after its last start: it then starts over for them.
    bool syncEnds();

    Core& core_;
    ProductList& products_;
    StatusFileWriter& statusFile_;

    std::recursive_mutex mutex_;
    std::condition_variable_any ended_;
    // Guarded by mutex_: the thread, whether it is at work, and the requests it has yet to
    // serve.
    std::unique_ptr<std::thread> thread_;
    bool running_ = false;
    int requests_ = 0;

    // Read and replaced by the sync thread only.
    std::shared_ptr<JsonDocument> publishDoc_;
    std::atomic<bool> usingLocalFile_{false};
    std::atomic<bool> forceRefresh_{false};
    // The fetched text the local copy was last written from, and the copy that gave.
    struct SavedCopy {
        std::size_t textHash;
        std::size_t textSize;
        platform::FileIdentity copy;
    };
    std::optional<SavedCopy> savedCopy_;
};

} // namespace kv::portal
