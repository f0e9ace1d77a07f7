// CPU time of an idle client with three browsers. Prints figures; never fails the build.
// Usage: kv_zeroconf_idle_bench [seconds], 60 by default.
#include "Lab.h"
#include "Result.h"
#include "client.h"

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

class Quiet : public zeroconf::browser_listener {
public:
    void on_service_resolved(std::uint32_t, const std::string&, const std::string&,
                             const std::string&, const std::string&, std::uint16_t,
                             const std::vector<std::string>&) override {}
    void on_service_removed(std::uint32_t, const std::string&, const std::string&) override {}
};

double cpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    std::string cannot;
    auto lab = kv::test::Lab::start(cannot);
    if (!lab) {
        std::printf("zeroconf idle bench skipped: %s\n", cannot.c_str());
        return 0;
    }
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", lab->busAddress().c_str(), 1);
    auto devices = lab->publishMany(
        {{"korvex-1.local", lab->address(11)}},
        {{"Studio A", "_http._tcp", 80, "korvex-1.local", {"_ravenna"}, {"version=1"}}});

    auto client = zeroconf::create_client(-1);
    auto listener = std::make_shared<Quiet>();
    std::vector<std::shared_ptr<zeroconf::browser>> browsers;
    for (const char* subtype : {"_ravenna", "_kelmora_dante_zman", "_kelmora_maintenance"}) {
        browsers.push_back(client->browse("", "_http._tcp", subtype, listener, false));
    }
    // Measures the steady state, after the first answers.
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const double cpuStart = cpuSeconds();
    const auto wallStart = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double cpu = cpuSeconds() - cpuStart;
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
    std::printf("idle client, 3 browsers, %.0f s: %.3f s CPU = %.3f%% of one core (target well "
                "under 1%%)\n",
                wall, cpu, 100.0 * cpu / wall);
    kv::bench::printResult({"idle_cpu",
                            "Discovery: CPU of an idle client with 3 browsers over " +
                                std::to_string(seconds) + " s (target well under 1%)",
                            100.0 * cpu / wall, "% of a core", "", NAN, NAN, "", "value<1"});
    return 0;
}
