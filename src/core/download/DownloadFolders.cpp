#include "core/download/DownloadQueue.h"
#include "platform/DownloadsFolder.h"
#include "platform/FileOpening.h"
#include "platform/FileTime.h"
#include "platform/PathSeparator.h"
#include "ru_rod.h"

#include <ctime>
#include <filesystem>

namespace kv::portal {

namespace {

constexpr int64_t kPackageLifetime = 604800;

// Removes packages older than a week. An entry that cannot be examined or removed (still
// open elsewhere, say) is left for the next sweep.
void sweep(const std::string& folder) {
    const int64_t now = std::time(nullptr);
    std::error_code error;
    std::filesystem::directory_iterator entries(folder, error);
    for (; !error && entries != std::filesystem::directory_iterator(); entries.increment(error)) {
        const std::string path = entries->path().string();
        const int64_t modified = platform::fileModificationTime(path);
        if (modified != 0 && now - modified > kPackageLifetime) {
            std::error_code ignored;
            std::filesystem::remove(path, ignored);
        }
    }
}

} // namespace

bool DownloadQueue::createDownloadDirectories() {
    std::string firmware;
    std::string software;
    if (const std::optional<std::string> downloads = platform::downloadsFolder()) {
        const std::string root = *downloads + platform::kPathSeparator + "KV";
        downloadsDir_.set(root);
        firmware = root + platform::kPathSeparator + "Firmware";
        software = root + platform::kPathSeparator + "Software";
    }
    // The Downloads folder itself may be missing on a fresh account: it is made as usual.
    if (firmware.empty() || !platform::createPrivateFolder(downloadsDir()) ||
        !platform::createPrivateFolder(firmware) || !platform::createPrivateFolder(software)) {
        KV_LOG(3, "Failed to create required download directories\n");
        return false;
    }
    sweep(firmware);
    sweep(software);
    return true;
}

} // namespace kv::portal
