#pragma once

#include "platform/FileIdentity.h"

#include <condition_variable>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <unordered_map>

namespace kv::portal {

// The MD5 digest of each package file, computed once while the file stays the same: the
// products of a studio share a few large packages, and every sync evaluates each of them.
// Remembered across runs in a small file of the program folder. Safe to use from any thread.
class PackageDigests {
public:
    // `file` holds the digests between runs; an empty name keeps them for this run only.
    explicit PackageDigests(std::string file);
    PackageDigests(const PackageDigests&) = delete;
    PackageDigests& operator=(const PackageDigests&) = delete;

    // The digest of the file at `path` as `DownloadQueue::md5File` gives it, "?" without hashing
    // when the path names no regular file. `beforeHashing` runs
    // only when the file is really read, on the calling thread, without the lock held. A caller
    // that asks for a file another thread is hashing waits for that result.
    std::string digest(const std::string& path, const std::function<void()>& beforeHashing);

private:
    struct Entry {
        platform::FileIdentity identity;
        std::string digest;
    };

    void load();
    void save() const;

    const std::string file_;
    std::mutex mutex_;
    // Guarded by mutex_.
    std::unordered_map<std::string, Entry> entries_;
    std::set<std::string> hashing_;
    std::condition_variable hashed_;
};

} // namespace kv::portal
