#include "ui/commands/CmdUpdateAll.h"

#include "core/update/UpdateFailureText.h"

#include <QCoreApplication>

#include <cstdio>

namespace kv::portal {

namespace {

constexpr int kTickMs = 100;

void complain(const std::string& line) {
    std::fputs(("kvportal: --update-all: " + line + "\n").c_str(), stderr);
}

// Why the product is not updated, or null when it is.
const char* skipReason(Core* core, const ProductPtr& product) {
    const Product::CloudPtr release = product->cloud.get();
    if (!release) {
        return "no release";
    }
    if (!product->isUpdateAvailable()) {
        return "up to date";
    }
    if (!core->canUpdate(product)) {
        return "this program does not update it";
    }
    // Nobody is there to read and accept it.
    if (!release->agreementLink.empty()) {
        return "its release asks for an agreement; update it from the window";
    }
    return nullptr;
}

} // namespace

CmdUpdateAll::CmdUpdateAll(Core* core_, const Options& options, std::FILE* out)
    : ICmd(core_), options_(options), out_(out),
      deadline_(static_cast<qint64>(options.waitSeconds) * 1000) {
    QObject::connect(&tick_, &QTimer::timeout, &tick_, [this] { tick(); });
    tick_.start(kTickMs);
}

CmdUpdateAll::~CmdUpdateAll() {
    // Core threads may still report while the members go.
    core->removeListener(this);
}

void CmdUpdateAll::updateEnded(Core*, const HistoryEntry& entry) {
    std::lock_guard<std::mutex> lock(currentMutex_);
    if (entry.product == current_) {
        ended_ = entry;
    }
}

void CmdUpdateAll::tick() {
    if (!planned_) {
        if (!settle_.settled(core) && !deadline_.hasExpired()) {
            return;
        }
        planned_ = true;
        if (!plan()) {
            finish(2);
            return;
        }
        if (options_.dryRun) {
            finish(0);
            return;
        }
        startNext();
        return;
    }
    followCurrent();
}

bool CmdUpdateAll::plan() {
    if (!settle_.catalogueRead()) {
        complain("the release catalogue could not be read");
        return false;
    }
    int considered = 0;
    core->forEachProduct([&](const ProductPtr& listed) {
        // A dual-mode device is updated in the firmware mode it runs.
        const ProductPtr product = listed->running ? listed : listed->twin.get();
        if (!product || (!product->isFirmware() && !options_.includeSoftware)) {
            return true;
        }
        ++considered;
        if (const char* reason = skipReason(core, product)) {
            say(product->name + ": skipped: " + reason);
        } else if (options_.dryRun) {
            say(product->name + ": would update from " + versionText(product->version.get()) +
                " to " + versionText(product->cloud.get()->version));
        } else {
            waiting_.push_back(product->name);
        }
        return true;
    });
    if (considered == 0) {
        complain(options_.includeSoftware ? "no device or application found" : "no device found");
        return false;
    }
    return true;
}

void CmdUpdateAll::startNext() {
    for (;;) {
        if (waiting_.empty()) {
            finish(anyFailed_ ? 1 : 0);
            return;
        }
        const std::string name = waiting_.front();
        waiting_.pop_front();
        const ProductPtr product = core->findProduct(name);
        if (!product) {
            say(name + ": failed: it left the network before its turn");
            anyFailed_ = true;
            continue;
        }
        {
            std::lock_guard<std::mutex> lock(currentMutex_);
            current_ = name;
            ended_.reset();
        }
        if (core->isDownloaded(product)) {
            core->requestUpdate(product);
        } else {
            product->updateAfterDownload = true;
            core->requestDownload(name);
        }
        return;
    }
}

void CmdUpdateAll::followCurrent() {
    // Asked first: a job records its end before it leaves its queue.
    std::string name;
    {
        std::lock_guard<std::mutex> lock(currentMutex_);
        name = current_;
    }
    const bool busy = core->hasJob(name);
    std::optional<HistoryEntry> ended;
    {
        std::lock_guard<std::mutex> lock(currentMutex_);
        ended = ended_;
    }
    if (ended) {
        if (ended->result == "succeeded") {
            say(name + ": updated from " + ended->fromVersion + " to " + ended->toVersion);
        } else {
            const ProductPtr product = core->findProduct(name);
            say(name + ": failed: " +
                updateFailureText(ended->errorCode, !product || product->isFirmware()));
            anyFailed_ = true;
        }
    } else if (!busy) {
        // The job ended before any update was attempted: the download failed or was not needed.
        const ProductPtr product = core->findProduct(name);
        if (product && product->status == DownloadError) {
            say(name + ": failed: download: " + Core::downloadErrorText(product->errorCode) + " (" +
                std::to_string(product->errorCode) + ")");
        } else {
            say(name + ": failed: nothing was installed");
        }
        anyFailed_ = true;
    } else {
        return;
    }
    startNext();
}

void CmdUpdateAll::say(const std::string& line) {
    std::fputs((line + "\n").c_str(), out_);
    std::fflush(out_);
}

void CmdUpdateAll::finish(int exitCode) {
    tick_.stop();
    QCoreApplication::exit(exitCode);
}

} // namespace kv::portal
