// The program's own DNS-SD provider through its C interface: without a bus, and against a real
// avahi-daemon in a private network namespace.
#include "LabSuite.h"
#include "dns_sd_provider.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

using kv::test::Lab;
using Clock = std::chrono::steady_clock;

namespace {

constexpr DNSServiceErrorType kNotRunning = dns_sd::kDNSServiceErr_ServiceNotRunning;

// What one callback call told: a browse fills name, type and domain; a resolve name (the full
// name), host, port and txt; a registration name.
struct event {
    DNSServiceFlags flags;
    std::uint32_t interface_index;
    DNSServiceErrorType error;
    std::string name, type, domain, host;
    std::uint16_t port;
    std::vector<std::string> txt;
};

// A callback's context.
struct told {
    std::vector<event> events;
    bool deallocate_at_once = false;

    std::size_t added() const {
        return std::count_if(events.begin(), events.end(),
                             [](const event& e) { return (e.flags & kDNSServiceFlagsAdd) != 0; });
    }
    DNSServiceErrorType error() const { return events.empty() ? 1 : events.back().error; }
};

std::string text(const char* value) {
    return value != nullptr ? value : "";
}

void on_browsed(DNSServiceRef ref, DNSServiceFlags flags, std::uint32_t interfaceIndex,
                DNSServiceErrorType error, const char* name, const char* type, const char* domain,
                void* context) {
    auto* seen = static_cast<told*>(context);
    seen->events.push_back(
        {flags, interfaceIndex, error, text(name), text(type), text(domain), "", 0, {}});
    if (seen->deallocate_at_once) {
        DNSServiceRefDeallocate(ref);
    }
}

void on_resolved(DNSServiceRef, DNSServiceFlags flags, std::uint32_t interfaceIndex,
                 DNSServiceErrorType error, const char* fullname, const char* hosttarget,
                 std::uint16_t port, std::uint16_t txtLen, const unsigned char* txt,
                 void* context) {
    std::vector<std::string> strings;
    for (std::size_t at = 0; at < txtLen; at += 1 + txt[at]) {
        strings.emplace_back(reinterpret_cast<const char*>(txt + at + 1), txt[at]);
    }
    static_cast<told*>(context)->events.push_back({flags, interfaceIndex, error, text(fullname), "",
                                                   "", text(hosttarget), ntohs(port), strings});
}

void on_registered(DNSServiceRef, DNSServiceFlags flags, DNSServiceErrorType error,
                   const char* name, const char*, const char*, void* context) {
    static_cast<told*>(context)->events.push_back({flags, 0, error, text(name), "", "", "", 0, {}});
}

void on_record(DNSServiceRef, DNSServiceFlags, std::uint32_t, DNSServiceErrorType, const char*,
               std::uint16_t, std::uint16_t, std::uint16_t, const void*, std::uint32_t, void*) {}

void on_address(DNSServiceRef, DNSServiceFlags, std::uint32_t, DNSServiceErrorType, const char*,
                const sockaddr*, std::uint32_t, void*) {}

// Delivers the references' results on this thread, as the discovery library's poll thread
// does, until done() holds or a generous deadline passes; returns done().
bool pump(const std::vector<DNSServiceRef>& refs, const std::function<bool()>& done) {
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (!done() && Clock::now() < deadline) {
        std::vector<pollfd> fds;
        for (DNSServiceRef ref : refs) {
            fds.push_back({DNSServiceRefSockFD(ref), POLLIN, 0});
        }
        ::poll(fds.data(), fds.size(), 100);
        for (std::size_t i = 0; i < refs.size(); ++i) {
            if ((fds[i].revents & POLLIN) != 0) {
                DNSServiceProcessResult(refs[i]);
            }
        }
    }
    return done();
}

bool readable(DNSServiceRef ref) {
    pollfd fd{DNSServiceRefSockFD(ref), POLLIN, 0};
    return ::poll(&fd, 1, 20'000) == 1;
}

int open_eventfds() {
    int count = 0;
    for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code ignored;
        count += std::filesystem::read_symlink(fd, ignored) == "anon_inode:[eventfd]" ? 1 : 0;
    }
    return count;
}

// Runs first: the bus is opened on first use, and only once it can be reached.
TEST(ProviderWithoutBus, BadParametersAndAnUnreachableBusFailEveryCreatingCall) {
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/kvdns_sd/bus.socket", 1);
    constexpr DNSServiceErrorType kBad = kDNSServiceErr_BadParam;
    const char* const host = "korvex-1.local";
    DNSServiceRef ref = nullptr;
    EXPECT_EQ(kBad, DNSServiceBrowse(&ref, 0, 0, "_kv._tcp,_a,_b", nullptr, on_browsed, 0));
    EXPECT_EQ(kBad, DNSServiceBrowse(&ref, 0, 0, "_kv._tcp", nullptr, nullptr, 0));
    EXPECT_EQ(kBad, DNSServiceResolve(&ref, 0, 0, nullptr, "_kv._tcp", 0, on_resolved, 0));
    EXPECT_EQ(kBad, DNSServiceQueryRecord(&ref, 0, 0, host, 1, 1, nullptr, 0));
    EXPECT_EQ(kBad, DNSServiceGetAddrInfo(&ref, 0, 0, 1, host, nullptr, 0));
    EXPECT_EQ(kDNSServiceErr_Unsupported,
              DNSServiceGetAddrInfo(&ref, 0, 0, 2, host, on_address, 0));
    EXPECT_EQ(kBad,
              DNSServiceRegister(&ref, 0, 0, "", "_kv._tcp", 0, 0, 80, 0, 0, on_registered, 0));
    EXPECT_EQ(kBad, DNSServiceRegister(&ref, 0, 0, "A", "_kv._tcp", 0, 0, 80, 3, "\5ab",
                                       on_registered, 0));
    EXPECT_EQ(kNotRunning, DNSServiceBrowse(&ref, 0, 0, "_kv._tcp", nullptr, on_browsed, 0));
    EXPECT_EQ(kNotRunning, DNSServiceResolve(&ref, 0, 0, "A", "_kv._tcp", 0, on_resolved, 0));
    EXPECT_EQ(kNotRunning, DNSServiceQueryRecord(&ref, 0, 0, host, 1, 1, on_record, 0));
    EXPECT_EQ(kNotRunning, DNSServiceGetAddrInfo(&ref, 0, 0, 1, host, on_address, 0));
    EXPECT_EQ(kNotRunning,
              DNSServiceRegister(&ref, 0, 0, "A", "_kv._tcp", 0, 0, 80, 0, 0, on_registered, 0));
    EXPECT_EQ(nullptr, ref);
}

class ProviderLab : public kv::test::LabSuite {
protected:
    void TearDown() override {
        for (DNSServiceRef ref : refs) {
            DNSServiceRefDeallocate(ref);
        }
    }

    // Devices "Studio N" of the type on hosts korvex-N.local, N = first .. first + count - 1.
    std::vector<std::unique_ptr<Lab::Announcement>> announce(const std::string& type, int first,
                                                             int count) {
        std::vector<Lab::Address> addresses;
        std::vector<Lab::Service> services;
        for (int n = first; n < first + count; ++n) {
            const std::string N = std::to_string(n);
            addresses.push_back({"korvex-" + N + ".local", lab->address(n)});
            services.push_back({"Studio " + N, type, 80, addresses.back().host, {}, {"n=" + N}});
        }
        return lab->publishMany(addresses, services);
    }

    DNSServiceRef browse(const char* type, told& seen) {
        DNSServiceRef ref = nullptr;
        EXPECT_EQ(0, DNSServiceBrowse(&ref, 0, 0, type, nullptr, on_browsed, &seen));
        return ref;
    }

    DNSServiceRef resolve(const std::string& name, const char* type, told& seen) {
        DNSServiceRef ref = nullptr;
        EXPECT_EQ(0, DNSServiceResolve(&ref, kDNSServiceFlagsAdd, 0, name.c_str(), type, "local.",
                                       on_resolved, &seen));
        return ref;
    }

    DNSServiceRef register_service(const char* name, const std::string& txt, told& result,
                                   std::uint16_t port = 9) {
        DNSServiceRef ref = nullptr;
        EXPECT_EQ(0, DNSServiceRegister(&ref, kDNSServiceFlagsNoAutoRename, 0, name, "_kvreg._tcp",
                                        nullptr, nullptr, htons(port),
                                        static_cast<std::uint16_t>(txt.size()), txt.data(),
                                        on_registered, &result));
        return ref;
    }

    // Deallocated after each test.
    std::vector<DNSServiceRef> refs;
};

// Beyond the calls one bus connection may have waiting, and on no more threads than the first.
TEST_F(ProviderLab, ThreeHundredResolvesInFlightAllAnswer) {
    auto devices = announce("_kvres._tcp", 11, 10);
    std::vector<told> answers(300);
    int threads_after_first = 0;
    for (std::size_t i = 0; i < answers.size(); ++i) {
        refs.push_back(
            resolve("Studio " + std::to_string(11 + i % 10), "_kvres._tcp.", answers[i]));
        threads_after_first = i == 0 ? kv::test::threadCount() : threads_after_first;
    }
    EXPECT_EQ(threads_after_first, kv::test::threadCount());
    ASSERT_TRUE(pump(refs, [&] {
        return std::all_of(answers.begin(), answers.end(),
                           [](const told& a) { return !a.events.empty(); });
    }));
    for (std::size_t i = 0; i < answers.size(); ++i) {
        const std::string n = std::to_string(11 + i % 10);
        const event& found = answers[i].events.front();
        EXPECT_EQ(0, found.error) << i;
        EXPECT_EQ("Studio\\032" + n + "._kvres._tcp.local.", found.name) << i;
        EXPECT_EQ("korvex-" + n + ".local.", found.host) << i;
        EXPECT_EQ(80, found.port) << i;
        EXPECT_EQ(std::vector<std::string>{"n=" + n}, found.txt) << i;
    }
}

// A name taken by another client, or by the same records elsewhere, is a conflict; TXT strings
// come back from the daemon less empty ones, which it refuses; deallocating withdraws.
TEST_F(ProviderLab, RegistrationsConflictCarryTheirTxtAndAreWithdrawnWhenDeallocated) {
    auto taken = lab->publishService({"Taken Name", "_kvreg._tcp", 80, "", {}, {}});
    std::vector<std::string> full{"long=" + std::string(250, 'x')};
    for (int i = 0; i < 100; ++i) {
        full.push_back("key" + std::to_string(i) + "=value " + std::to_string(i));
    }
    // Led by an empty string, which the daemon would refuse.
    std::string sent(1, '\0');
    for (const auto& entry : full) {
        sent += static_cast<char>(entry.size()) + entry;
    }
    told other, mine, again, with_txt, without_txt, browsed;
    refs = {register_service("Taken Name", "", other), register_service("Mine", "", mine)};
    ASSERT_TRUE(pump(refs, [&] { return !mine.events.empty(); }));
    // The same records would be no conflict.
    refs.push_back(register_service("Mine", "", again, 10));
    refs.push_back(register_service("Txt Empty", "", without_txt));
    DNSServiceRef full_service = register_service("Txt Full", sent, with_txt);
    ASSERT_TRUE(pump({refs[0], refs[2], refs[3], full_service}, [&] {
        return !other.events.empty() && !again.events.empty() && !with_txt.events.empty() &&
               !without_txt.events.empty();
    }));
    EXPECT_EQ(kDNSServiceErr_NameConflict, other.error());
    EXPECT_EQ("Taken Name", other.events.front().name);
    EXPECT_EQ(0, mine.error());
    EXPECT_EQ(kDNSServiceErr_NameConflict, again.error());
    EXPECT_EQ(1u, other.events.size());
    EXPECT_EQ(1u, again.events.size());
    ASSERT_EQ(0, with_txt.error());
    ASSERT_EQ(0, without_txt.error());

    told full_resolved, empty_resolved;
    refs.push_back(resolve("Txt Full", "_kvreg._tcp", full_resolved));
    refs.push_back(resolve("Txt Empty", "_kvreg._tcp", empty_resolved));
    refs.push_back(browse("_kvreg._tcp", browsed));
    ASSERT_TRUE(pump(refs, [&] {
        return !full_resolved.events.empty() && !empty_resolved.events.empty() &&
               browsed.added() == 4;
    }));
    std::sort(full.begin(), full.end());
    std::sort(full_resolved.events.front().txt.begin(), full_resolved.events.front().txt.end());
    EXPECT_EQ(full, full_resolved.events.front().txt);
    EXPECT_EQ(std::vector<std::string>{}, empty_resolved.events.front().txt);

    DNSServiceRefDeallocate(full_service);
    ASSERT_TRUE(pump(refs, [&] { return browsed.events.size() > 4; }));
    EXPECT_EQ(0u, browsed.events.back().flags & kDNSServiceFlagsAdd);
    EXPECT_EQ("Txt Full", browsed.events.back().name);
}

TEST_F(ProviderLab, DeallocatingInsideACallbackStopsDeliveryAtOnce) {
    auto devices = announce("_kvmany._tcp", 51, 5);
    told stopped, all;
    stopped.deallocate_at_once = true;
    DNSServiceRef first = browse("_kvmany._tcp", stopped);
    refs.push_back(browse("_kvmany._tcp", all));
    // The daemon answers the browsers in the order they started.
    ASSERT_TRUE(pump(refs, [&] { return all.added() == 5; }));
    ASSERT_TRUE(readable(first));
    EXPECT_EQ(0, DNSServiceProcessResult(first));
    ASSERT_EQ(1u, stopped.events.size());
    EXPECT_NE(0u, stopped.events.front().flags & kDNSServiceFlagsMoreComing);
}

// References deallocated on one thread while their results wait, and others made and dropped
// on another: the connection goes on serving, and every operation is let go of.
TEST_F(ProviderLab, DeallocatingFromAnotherThreadWhileResultsAreQueuedIsSafe) {
    auto devices = announce("_kvrace._tcp", 61, 5);
    std::vector<told> seen(102);
    refs.push_back(browse("_kvrace._tcp", seen[100]));
    ASSERT_TRUE(pump(refs, [&] { return seen[100].added() == 5; }));
    const int eventfds_before = open_eventfds();
    std::vector<DNSServiceRef> queued;
    for (std::size_t i = 0; i < 50; ++i) {
        queued.push_back(browse("_kvrace._tcp", seen[i]));
        ASSERT_TRUE(readable(queued.back()));
    }
    std::thread releasing([&] {
        for (DNSServiceRef ref : queued) {
            DNSServiceRefDeallocate(ref);
        }
    });
    for (std::size_t i = 50; i < 100; ++i) {
        DNSServiceRefDeallocate(browse("_kvrace._tcp", seen[i]));
    }
    releasing.join();
    // The daemon answers in order: once this browse has its answers, every earlier release has
    // been handled.
    refs.push_back(browse("_kvrace._tcp", seen[101]));
    ASSERT_TRUE(pump(refs, [&] { return seen[101].added() == 5; }));
    EXPECT_EQ(eventfds_before + 1, open_eventfds());
}

// Last: it stops the lab's daemon.
TEST_F(ProviderLab, StoppedDaemonEndsLiveOperationsAndRefusesNewOnes) {
    auto device = lab->publishService({"Studio A", "_kvout._tcp", 80, "", {}, {}});
    told browsed, registered;
    refs = {browse("_kvout._tcp", browsed), register_service("Studio B", "", registered)};
    ASSERT_TRUE(pump(refs, [&] { return browsed.added() > 0 && !registered.events.empty(); }));
    ASSERT_EQ(0, registered.error());

    lab->stopAvahi();
    ASSERT_TRUE(pump(refs, [&] { return browsed.error() != 0 && registered.error() != 0; }));
    EXPECT_EQ(kNotRunning, browsed.error());
    EXPECT_EQ(kNotRunning, registered.error());
    EXPECT_EQ(0u, registered.events.back().flags);
    DNSServiceRef later = nullptr;
    EXPECT_EQ(kNotRunning, DNSServiceBrowse(&later, 0, 0, "_kvout._tcp", 0, on_browsed, 0));
    EXPECT_EQ(nullptr, later);
}

} // namespace
