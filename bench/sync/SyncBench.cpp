// Measures a whole catalogue sync against the bare parse of the same publish file.
//
//     kv_sync_bench [entries...]      (ascending; default: 2500 5000 10000 20000)
//
// For each size it generates a publish file (about 500 bytes an entry, a tenth as many
// intermediate generations), serves it from the project's release server on 127.0.0.1 and runs
// each measurement in a process of its own, so that every peak memory figure is its own:
//   parse   RapidJSON's recursive parse of the text, the floor;
//   sync    startSync to syncFinished with 1,000 firmware products: fetch, parse, local copy,
//           matching with the intermediate-generation rule and evaluation; the best run finds
//           its local copy current, so the first one, which writes it, is shown too;
//   rematch a sync from the cache: matching and evaluation alone;
//   +status file  the whole sync again with the status file written, as the program does.
// Times are the best of several runs. It prints figures and never fails. The RESULT lines hold
// the target's file of 10,000 entries and the per-entry cost of the largest file beside the
// smallest, which stays near 1 while the sync is linear in the entries.

#include "FixedSettings.h"
#include "ReleaseServer.h"
#include "Result.h"
#include "TempDir.h"
#include "core/Core.h"

#include <rapidjson/document.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

using namespace kv::portal;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kRuns = 3;
constexpr int kTargetEntries = 10000;
constexpr int kProductsPerCode = 100;
const ProductCode kFirmwareCodes[] = {code::KORVEX_FIRMWARE,   code::KORVEX_FIRMWARE_DANTE,
                                      code::RX48_FIRMWARE,     code::RX48_FIRMWARE_DANTE,
                                      code::VORAVERI_FIRMWARE, code::VORAVERI_FIRMWARE_DANTE,
                                      code::VESK_III_FIRMWARE, code::VESK_III_FIRMWARE_DANTE,
                                      code::VESK_FIRMWARE,     code::PELRA_FIRMWARE};
const ProductCode kApplicationCodes[] = {code::KVPORTAL, code::VORNET, code::KVDISCOVERY,
                                         code::KORVEX_REMOTE_CONTROLLER,
                                         code::RX48_TOOLKIT_CONTROLLER};

std::string entry(const std::string& id, const char* os, int index, unsigned generation) {
    char text[1024];
    std::snprintf(text, sizeof(text),
                  R"({"ID":"%s","OS":"%s","IV":"4.%d.%db%d","GN":%u,"IF":"%s-4.%d.%d.img",)"
                  R"("LK":"https://downloads.kelmora.example/download/packages/%s/%d/image.img",)"
                  R"("MD5":"%032x","RN":"https://kelmora.example/notes/%s/%d",)"
                  R"("LA":"https://kelmora.example/agreements/%d","description":"%s"})",
                  id.c_str(), os, index % 97, index % 13, index, generation, id.c_str(), index % 97,
                  index % 13, id.c_str(), index, index, id.c_str(), index, index % 7,
                  "Kelmora release for studio devices with fixes for clocking, routing and "
                  "meter bridges; see the release notes for every change");
    return text;
}

std::string generatePublishFile(int entries) {
    std::string text = "{\"schema\":3,\"products\":[";
    for (int i = 0; i < entries; ++i) {
        const char* os = i % 3 == 0 ? "macOS" : "Windows";
        std::string id = "KELMORA-ACCESSORY-" + std::to_string(i);
        if (i < 10) {
            id = kFirmwareCodes[i];
            os = "Windows";
        } else if (i < 15) {
            id = kApplicationCodes[i - 10];
        }
        text += (i ? "," : "") + entry(id, os, i, 200);
    }
    text += "],\"firmware_generations\":[";
    for (int i = 0; i < entries / 10; ++i) {
        text += (i ? "," : "") + entry(kFirmwareCodes[i % 10], "Windows", i, 2 + i / 10);
    }
    return text + "]}";
}

long residentKiB() {
    std::ifstream statm("/proc/self/statm");
    long size = 0;
    long resident = 0;
    statm >> size >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

long peakKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

double seconds(Clock::duration duration) {
    return std::chrono::duration<double>(duration).count();
}

// Child: the bare parse of a file. Prints "seconds peak-KiB" on the standard error.
int measureParse(const std::string& path) {
    // The text is part of the floor: a parse needs the whole file in memory.
    const long baseline = residentKiB();
    std::ifstream in(path, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    double best = 1e9;
    for (int run = 0; run < kRuns; ++run) {
        const auto start = Clock::now();
        rapidjson::Document document;
        document.Parse(text.c_str());
        best = std::min(best, seconds(Clock::now() - start));
        if (!document.IsObject()) {
            return 1;
        }
    }
    std::fprintf(stderr, "%f %ld 0\n", best, peakKiB() - baseline);
    return 0;
}

class FinishedSyncs : public Core::Listener {
public:
    void syncFinished(Core*, const std::string&) override {
        std::lock_guard<std::mutex> lock(mutex_);
        ++finished_;
        changed_.notify_all();
    }
    void wait(int count) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return finished_ >= count; });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int finished_ = 0;
};

// Child: whole syncs and cached re-matches.
// Prints "sync-seconds peak-KiB rematch-seconds first-sync-seconds".
int measureSync(const std::string& url, bool statusFile) {
    kv::test::TempDir home;
    ::setenv("HOME", home.path().c_str(), 1);
    ::unsetenv("XDG_CONFIG_HOME");
    ::setenv("KVPORTAL_PROGRAM_FILES", home.file("Program Files").c_str(), 1);
    Core core;
    auto settings = std::make_unique<kv::test::FixedSettings>();
    settings->set("publish_file", url);
    core.setProxy(std::move(settings));
    core.setIpcEnabled(statusFile);
    FinishedSyncs listener;
    core.addListener(&listener);
    for (const ProductCode code : kFirmwareCodes) {
        for (int i = 0; i < kProductsPerCode; ++i) {
            core.addProduct(code, std::string(code) + " " + std::to_string(i), "",
                            Version(1, 0, 0, static_cast<uint32_t>(i)));
        }
    }
    const long baseline = residentKiB();
    double bestSync = 1e9;
    double firstSync = 0;
    double bestRematch = 1e9;
    int syncs = 0;
    for (int run = 0; run < kRuns; ++run) {
        core.setForceRefresh();
        auto start = Clock::now();
        core.startSync();
        listener.wait(++syncs);
        const double took = seconds(Clock::now() - start);
        bestSync = std::min(bestSync, took);
        if (run == 0) {
            firstSync = took;
        }
        start = Clock::now();
        core.startSync();
        listener.wait(++syncs);
        bestRematch = std::min(bestRematch, seconds(Clock::now() - start));
    }
    const long peak = peakKiB() - baseline;
    core.removeListener(&listener);
    std::fprintf(stderr, "%f %ld %f %f\n", bestSync, peak, bestRematch, firstSync);
    return 0;
}

struct Figures {
    double seconds = 0;
    long peakKiB = 0;
    double rematchSeconds = 0;
    double firstSeconds = 0;
};

Figures runChild(const std::string& arguments, const std::string& resultPath) {
    const std::string command =
        "/proc/" + std::to_string(getpid()) + "/exe " + arguments + " >/dev/null 2>" + resultPath;
    Figures figures;
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "failed: %s\n", command.c_str());
        return figures;
    }
    std::ifstream result(resultPath);
    result >> figures.seconds >> figures.peakKiB >> figures.rematchSeconds >> figures.firstSeconds;
    return figures;
}

void printTargetResults(int entries, std::size_t bytes, const Figures& parse, const Figures& sync) {
    char file[64];
    std::snprintf(file, sizeof(file), "%d entries (%.1f MB) against %d products", entries,
                  bytes / 1e6, kProductsPerCode * 10);
    const double parseMs = parse.seconds > 0 ? parse.seconds * 1e3 : NAN;
    const double syncMs = sync.seconds > 0 ? sync.seconds * 1e3 : NAN;
    kv::bench::printResult(
        {"sync_time", std::string("Sync wall time, ") + file + ", best of " + std::to_string(kRuns),
         syncMs, "ms", "RapidJSON parse", parseMs, syncMs / parseMs, "program / peer",
         "ratio<=1.5"});
    const double firstMs = sync.firstSeconds > 0 ? sync.firstSeconds * 1e3 : NAN;
    kv::bench::printResult({"sync_first_time",
                            std::string("First sync wall time, writing the local copy, ") + file,
                            firstMs, "ms", "RapidJSON parse", parseMs, firstMs / parseMs,
                            "program / peer", "ratio<=2"});
    const double parseMiB = parse.peakKiB > 0 ? parse.peakKiB / 1024.0 : NAN;
    const double syncMiB = sync.peakKiB > 0 ? sync.peakKiB / 1024.0 : NAN;
    kv::bench::printResult({"sync_memory", std::string("Sync peak memory growth, ") + file, syncMiB,
                            "MiB", "RapidJSON parse", parseMiB, syncMiB / parseMiB,
                            "program / peer", "ratio<=3"});
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--parse") {
        return measureParse(argv[2]);
    }
    if (argc == 4 && std::string(argv[1]) == "--sync") {
        return measureSync(argv[2], std::string(argv[3]) == "status-file");
    }
    std::vector<double> perEntry;
    std::vector<int> sizes;
    for (int i = 1; i < argc; ++i) {
        sizes.push_back(std::atoi(argv[i]));
    }
    if (sizes.empty()) {
        sizes = {2500, 5000, 10000, 20000};
    }

    kv::test::TempDir folder;
    kv::test::ReleaseServer server(folder.path());
    std::printf("Catalogue sync against %d firmware products, best of %d runs\n",
                kProductsPerCode * 10, kRuns);
    std::printf("%8s %8s | %9s %9s | %8s %8s %6s %6s | %8s | %10s %8s | %14s\n", "entries", "MiB",
                "parse ms", "parse MiB", "sync ms", "sync MiB", "x time", "x mem", "first ms",
                "rematch ms", "us/entry", "+status file ms");
    for (const int size : sizes) {
        const std::string name = "publish-" + std::to_string(size) + ".json";
        const std::string text = generatePublishFile(size);
        kv::test::writeFile(folder.file(name), text);
        const Figures parse = runChild("--parse " + folder.file(name), folder.file("result"));
        const Figures sync =
            runChild("--sync " + server.url("/" + name) + " bare", folder.file("result"));
        const Figures withStatus =
            runChild("--sync " + server.url("/" + name) + " status-file", folder.file("result"));
        std::printf(
            "%8d %8.2f | %9.1f %9.1f | %8.1f %8.1f %6.2f %6.2f | %8.1f | %10.1f %8.2f | %14.1f\n",
            size, text.size() / 1048576.0, parse.seconds * 1e3, parse.peakKiB / 1024.0,
            sync.seconds * 1e3, sync.peakKiB / 1024.0,
            parse.seconds > 0 ? sync.seconds / parse.seconds : 0,
            parse.peakKiB > 0 ? double(sync.peakKiB) / parse.peakKiB : 0, sync.firstSeconds * 1e3,
            sync.rematchSeconds * 1e3, sync.seconds * 1e6 / size, withStatus.seconds * 1e3);
        if (size == kTargetEntries) {
            printTargetResults(size, text.size(), parse, sync);
        }
        perEntry.push_back(sync.seconds > 0 ? sync.seconds * 1e6 / size : NAN);
    }
    if (sizes.size() > 1) {
        const double ratio = perEntry.back() / perEntry.front();
        kv::bench::printResult(
            {"sync_scaling",
             "Sync wall time per entry, " + std::to_string(sizes.back()) + " entries beside " +
                 std::to_string(sizes.front()) + " (linear stays near 1)",
             perEntry.back(), "us/entry", "sync of " + std::to_string(sizes.front()) + " entries",
             perEntry.front(), ratio, "largest / smallest", "ratio<2"});
    }
    return 0;
}
