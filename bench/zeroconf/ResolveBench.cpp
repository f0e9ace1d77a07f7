// Time until the discovery library has resolved 200 devices announced in the lab, beside
// avahi-browse finding the same 200 on the same daemon. Prints figures; never fails the build.
#include "Lab.h"
#include "Result.h"
#include "client.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <set>
#include <string>
#include <vector>

extern char** environ;

namespace {

using clock_type = std::chrono::steady_clock;
constexpr int kDevices = 200;
constexpr int kRounds = 3;
constexpr auto kDeadline = std::chrono::seconds(120);

double millisecondsSince(clock_type::time_point start) {
    return std::chrono::duration<double, std::milli>(clock_type::now() - start).count();
}

class Counter : public zeroconf::browser_listener {
public:
    void on_service_resolved(std::uint32_t, const std::string& name, const std::string&,
                             const std::string&, const std::string&, std::uint16_t,
                             const std::vector<std::string>&) override {
        const int threads = kv::test::threadCount();
        std::lock_guard<std::mutex> lock(mutex_);
        names_.insert(name);
        peakThreads_ = std::max(peakThreads_, threads);
        changed_.notify_all();
    }
    void on_service_removed(std::uint32_t, const std::string&, const std::string&) override {}

    bool waitAll() {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, kDeadline, [&] { return names_.size() >= kDevices; });
    }
    int peakThreads() {
        std::lock_guard<std::mutex> lock(mutex_);
        return peakThreads_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::set<std::string> names_;
    int peakThreads_ = 0;
};

double timeLibrary(int& peakThreads) {
    const auto start = clock_type::now();
    auto client = zeroconf::create_client(-1);
    auto counter = std::make_shared<Counter>();
    auto browser = client->browse("", "_http._tcp", "_ravenna", counter, false);
    const bool all = browser != nullptr && counter->waitAll();
    const double elapsed = millisecondsSince(start);
    peakThreads = counter->peakThreads();
    return all ? elapsed : -1;
}

// Runs avahi-browse on the lab's bus until it has resolved every device.
double timeAvahiBrowse() {
    int out[2];
    if (::pipe(out) != 0) {
        return -1;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    char* argv[] = {const_cast<char*>("avahi-browse"), const_cast<char*>("-rp"),
                    const_cast<char*>("_ravenna._sub._http._tcp"), nullptr};
    const auto start = clock_type::now();
    pid_t pid = 0;
    const int spawned = ::posix_spawnp(&pid, "avahi-browse", &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    double elapsed = -1;
    if (spawned == 0) {
        FILE* lines = ::fdopen(out[0], "r");
        std::set<std::string> resolved;
        char line[4096];
        while (std::fgets(line, sizeof(line), lines) != nullptr) {
            if (line[0] == '=') {
                resolved.insert(line);
                if (resolved.size() >= kDevices) {
                    elapsed = millisecondsSince(start);
                    break;
                }
            }
        }
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
        std::fclose(lines);
    } else {
        ::close(out[0]);
    }
    return elapsed;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main() {
    std::string cannot;
    auto lab = kv::test::Lab::start(cannot);
    if (!lab) {
        std::printf("zeroconf resolve bench skipped: %s\n", cannot.c_str());
        return 0;
    }
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", lab->busAddress().c_str(), 1);

    std::vector<kv::test::Lab::Address> addresses;
    std::vector<kv::test::Lab::Service> services;
    for (int i = 0; i < kDevices; ++i) {
        const std::string host = "korvex-" + std::to_string(i) + ".local";
        addresses.push_back({host, lab->address(10 + i)});
        services.push_back({"Studio " + std::to_string(i),
                            "_http._tcp",
                            80,
                            host,
                            {"_ravenna"},
                            {"vendor=Kelmora Technologies", "product=KELMORA+KORVEX",
                             "version=1.2.3b45", "firmware_generation=2"}});
    }
    // Served by the lab's daemon itself: 400 publisher clients on its bus would wake at every
    // connection the library opens and measure the lab, not the library.
    const auto publishStart = clock_type::now();
    lab->publishStatic(addresses, services);
    std::printf("announced %d devices in %.0f ms\n", kDevices, millisecondsSince(publishStart));

    std::vector<double> library;
    std::vector<double> avahi;
    int peakThreads = 0;
    for (int round = 0; round < kRounds; ++round) {
        avahi.push_back(timeAvahiBrowse());
        library.push_back(timeLibrary(peakThreads));
        std::printf("round %d: zeroconf %.0f ms, avahi-browse %.0f ms, peak threads %d\n",
                    round + 1, library.back(), avahi.back(), peakThreads);
    }
    const double ours = median(library);
    const double theirs = median(avahi);
    std::printf("resolve %d devices: zeroconf %.0f ms, avahi-browse -rp %.0f ms, ratio %.2f "
                "(target <= 1.20)\n",
                kDevices, ours, theirs, theirs > 0 ? ours / theirs : 0.0);
    const double oursMs = ours < 0 ? NAN : ours;
    const double theirsMs = theirs < 0 ? NAN : theirs;
    kv::bench::printResult({"resolve",
                            "Discovery: " + std::to_string(kDevices) +
                                " devices resolved in the lab, median of " +
                                std::to_string(kRounds),
                            oursMs, "ms", "avahi-browse -rp", theirsMs, oursMs / theirsMs,
                            "program / peer time", "ratio<=1.2"});
    // Avahi's layer opens a D-Bus connection and a thread for every operation.
    kv::bench::printResult({"resolve_threads", "Discovery: peak threads while resolving",
                            static_cast<double>(peakThreads), "threads", "", NAN, NAN, "", ""});
    return 0;
}
