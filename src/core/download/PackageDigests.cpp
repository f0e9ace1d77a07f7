#include "core/download/PackageDigests.h"

#include "core/download/DownloadQueue.h"
#include "platform/FileOpening.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <utility>

namespace kv::portal {

namespace {

constexpr char kHeader[] = "KVPortal package digests 1";
// A studio keeps tens of packages; anything much larger is not this program's file.
constexpr std::streamoff kLargestFile = 1024 * 1024;
constexpr size_t kDigestLength = 32;

bool isDigest(const std::string& text) {
    return text.size() == kDigestLength &&
           text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

// Clears the mark of a file being hashed, also when hashing throws.
class HashingMark {
public:
    HashingMark(std::unique_lock<std::mutex>& lock, std::set<std::string>& hashing,
                std::condition_variable& hashed, const std::string& path)
        : lock_(lock), hashing_(hashing), hashed_(hashed), path_(path) {
        hashing_.insert(path_);
    }
    ~HashingMark() {
        if (!lock_.owns_lock()) {
            lock_.lock();
        }
        hashing_.erase(path_);
        hashed_.notify_all();
    }
    HashingMark(const HashingMark&) = delete;
    HashingMark& operator=(const HashingMark&) = delete;

private:
    std::unique_lock<std::mutex>& lock_;
    std::set<std::string>& hashing_;
    std::condition_variable& hashed_;
    const std::string& path_;
};

} // namespace

PackageDigests::PackageDigests(std::string file) : file_(std::move(file)) {
    load();
}

std::string PackageDigests::digest(const std::string& path,
                                   const std::function<void()>& beforeHashing) {
    std::unique_lock<std::mutex> lock(mutex_);
    std::optional<platform::FileIdentity> before;
    for (;;) {
        before = platform::fileIdentity(path);
        // Nothing to read: a package not downloaded yet, or something that is no package.
        if (!before) {
            return "?";
        }
        const auto known = entries_.find(path);
        if (known != entries_.end() && known->second.identity == *before) {
            return known->second.digest;
        }
        if (hashing_.count(path) == 0) {
            break;
        }
        hashed_.wait(lock);
    }
    HashingMark mark(lock, hashing_, hashed_, path);
    lock.unlock();
    beforeHashing();
    std::string digest = DownloadQueue::md5File(path);
    // A file that changed while it was read gives no digest worth keeping.
    const std::optional<platform::FileIdentity> after = platform::fileIdentity(path);
    lock.lock();
    if (isDigest(digest) && after && *before == *after) {
        entries_[path] = Entry{*after, digest};
        save();
    }
    return digest;
}

// Entries of files that changed or went since they were hashed are dropped; a file that is
// not ours, or damaged, is ignored whole. Either way the file is written again.
void PackageDigests::load() {
    if (file_.empty()) {
        return;
    }
    std::ifstream in(file_, std::ios::binary | std::ios::ate);
    if (!in) {
        return;
    }
    std::string line;
    bool damaged =
        in.tellg() > kLargestFile || !in.seekg(0) || !std::getline(in, line) || line != kHeader;
    bool stale = false;
    std::unordered_map<std::string, Entry> read;
    while (!damaged && std::getline(in, line)) {
        std::istringstream fields(line);
        Entry entry;
        platform::FileIdentity& id = entry.identity;
        std::string path;
        damaged = !(fields >> entry.digest >> id.size >> id.modifiedNs >> id.device >> id.inode >>
                    id.changedNs) ||
                  fields.get() != ' ' || !std::getline(fields, path) || !isDigest(entry.digest) ||
                  path.empty();
        if (!damaged) {
            const std::optional<platform::FileIdentity> now = platform::fileIdentity(path);
            if (now && *now == id) {
                read.emplace(std::move(path), std::move(entry));
            } else {
                stale = true;
            }
        }
    }
    in.close();
    std::lock_guard<std::mutex> lock(mutex_);
    if (!damaged) {
        entries_ = std::move(read);
    }
    if (damaged || stale) {
        save();
    }
}

// Called with mutex_ held, so that two writers never mix their files.
void PackageDigests::save() const {
    if (file_.empty()) {
        return;
    }
    std::ostringstream text;
    text << kHeader << '\n';
    for (const auto& [path, entry] : entries_) {
        if (path.find('\n') != std::string::npos) {
            continue;
        }
        const platform::FileIdentity& id = entry.identity;
        text << entry.digest << ' ' << id.size << ' ' << id.modifiedNs << ' ' << id.device << ' '
             << id.inode << ' ' << id.changedNs << ' ' << path << '\n';
    }
    platform::replaceWhole(file_, text.str());
}

} // namespace kv::portal
