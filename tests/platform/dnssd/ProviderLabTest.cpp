// The program's own DNS-SD provider against a real avahi-daemon in a private network namespace.
#include "LabSuite.h"
#include "provider_harness.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using kv::test::Lab;
using provider_test::browse_event;
using provider_test::browse_events;
using provider_test::on_browsed;
using provider_test::on_registered;
using provider_test::pump;
using provider_test::registration;

namespace {

std::vector<std::string> sorted(std::vector<std::string> items) {
    std::sort(items.begin(), items.end());
    return items;
}

struct resolve_answer {
    int calls = 0;
    DNSServiceErrorType error = kDNSServiceErr_NoError;
    std::string full_name;
    std::string host;
    std::uint16_t port = 0;
    std::vector<std::string> txt;
};

void on_resolved(DNSServiceRef, DNSServiceFlags, std::uint32_t, DNSServiceErrorType error,
                 const char* fullname, const char* hosttarget, std::uint16_t port,
                 std::uint16_t txtLen, const unsigned char* txtRecord, void* context) {
    auto* answer = static_cast<resolve_answer*>(context);
    ++answer->calls;
    answer->error = error;
    answer->full_name = fullname;
    answer->host = hosttarget;
    answer->port = ntohs(port);
    answer->txt = provider_test::txt_strings(txtRecord, txtLen);
}

class ProviderLab : public kv::test::LabSuite {
protected:
    void TearDown() override {
        for (DNSServiceRef ref : refs) {
            DNSServiceRefDeallocate(ref);
        }
    }

    // Devices "Studio N" of the type on hosts korvex-N.local, N = first .. first + count - 1.
    std::vector<std::unique_ptr<Lab::Announcement>>
    announce(const std::string& type, int first, int count,
             const std::vector<std::string>& subtypes = {}) {
        std::vector<Lab::Address> addresses;
        std::vector<Lab::Service> services;
        for (int n = first; n < first + count; ++n) {
            const std::string host = "korvex-" + std::to_string(n) + ".local";
            addresses.push_back({host, lab->address(n)});
            services.push_back({"Studio " + std::to_string(n),
                                type,
                                80,
                                host,
                                subtypes,
                                {"n=" + std::to_string(n)}});
        }
        return lab->publishMany(addresses, services);
    }

    DNSServiceRef browse(const char* type, browse_events& seen) {
        DNSServiceRef ref = nullptr;
        EXPECT_EQ(kDNSServiceErr_NoError,
                  DNSServiceBrowse(&ref, 0, 0, type, nullptr, on_browsed, &seen));
        return ref;
    }

    DNSServiceRef register_service(const char* name, const char* type, const std::string& txt,
                                   registration& result, std::uint16_t port = 9) {
        DNSServiceRef ref = nullptr;
        EXPECT_EQ(kDNSServiceErr_NoError,
                  DNSServiceRegister(&ref, kDNSServiceFlagsNoAutoRename, 0, name, type, nullptr,
                                     nullptr, htons(port), static_cast<std::uint16_t>(txt.size()),
                                     txt.data(), on_registered, &result));
        return ref;
    }

    // Deallocated after each test.
    std::vector<DNSServiceRef> refs;
};

TEST_F(ProviderLab, ThreeHundredResolvesInFlightShareOneConnectionAndAllAnswer) {
    auto devices = announce("_kvres._tcp", 11, 10);

    std::vector<resolve_answer> answers(300);
    int threads_after_first = 0;
    for (std::size_t i = 0; i < answers.size(); ++i) {
        const std::string name = "Studio " + std::to_string(11 + i % 10);
        DNSServiceRef ref = nullptr;
        ASSERT_EQ(kDNSServiceErr_NoError,
                  DNSServiceResolve(&ref, kDNSServiceFlagsAdd, 0, name.c_str(), "_kvres._tcp.",
                                    "local.", on_resolved, &answers[i]));
        refs.push_back(ref);
        if (i == 0) {
            threads_after_first = kv::test::threadCount();
        }
    }
    EXPECT_EQ(1, provider_test::connections_of_this_process(lab->busAddress()));
    EXPECT_EQ(threads_after_first, kv::test::threadCount());

    ASSERT_TRUE(pump(refs, [&] {
        return std::all_of(answers.begin(), answers.end(),
                           [](const resolve_answer& a) { return a.calls > 0; });
    }));
    for (std::size_t i = 0; i < answers.size(); ++i) {
        const std::string n = std::to_string(11 + i % 10);
        EXPECT_EQ(kDNSServiceErr_NoError, answers[i].error) << i;
        EXPECT_EQ("Studio\\032" + n + "._kvres._tcp.local.", answers[i].full_name) << i;
        EXPECT_EQ("korvex-" + n + ".local.", answers[i].host) << i;
        EXPECT_EQ(80, answers[i].port) << i;
        EXPECT_EQ(std::vector<std::string>{"n=" + n}, answers[i].txt) << i;
    }
    EXPECT_EQ(1, provider_test::connections_of_this_process(lab->busAddress()));
}

TEST_F(ProviderLab, TxtRecordsComeBackFromTheDaemonLessEmptyStrings) {
    // The longest string a TXT record can hold (255 bytes), and many.
    std::vector<std::string> full{"long=" + std::string(250, 'x')};
    for (int i = 0; i < 100; ++i) {
        full.push_back("key" + std::to_string(i) + "=value " + std::to_string(i));
    }
    // An empty string, which avahi-daemon refuses, is left out.
    std::vector<std::string> sent = full;
    sent.insert(sent.begin() + 1, "");
    registration full_registered;
    registration empty_registered;
    refs.push_back(register_service("Txt Full", "_kvtxt._tcp", provider_test::txt_record(sent),
                                    full_registered));
    refs.push_back(register_service("Txt Empty", "_kvtxt._tcp", "", empty_registered));
    ASSERT_TRUE(
        pump(refs, [&] { return full_registered.calls > 0 && empty_registered.calls > 0; }));
    ASSERT_EQ(kDNSServiceErr_NoError, full_registered.error);
    ASSERT_EQ(kDNSServiceErr_NoError, empty_registered.error);

    resolve_answer full_resolved;
    resolve_answer empty_resolved;
    DNSServiceRef ref = nullptr;
    ASSERT_EQ(kDNSServiceErr_NoError, DNSServiceResolve(&ref, 0, 0, "Txt Full", "_kvtxt._tcp",
                                                        "local", on_resolved, &full_resolved));
    refs.push_back(ref);
    ASSERT_EQ(kDNSServiceErr_NoError, DNSServiceResolve(&ref, 0, 0, "Txt Empty", "_kvtxt._tcp",
                                                        "local", on_resolved, &empty_resolved));
    refs.push_back(ref);
    ASSERT_TRUE(pump(refs, [&] { return full_resolved.calls > 0 && empty_resolved.calls > 0; }));

    EXPECT_EQ(sorted(full), sorted(full_resolved.txt));
    EXPECT_EQ(std::vector<std::string>{}, empty_resolved.txt);
}

TEST_F(ProviderLab, NameTakenByAnotherClientOrByItselfIsAConflictInTheCallback) {
    auto taken = lab->publishService({"Taken Name", "_kvtaken._tcp", 80, "", {}, {}});
    registration other;
    registration first;
    registration second;
    refs.push_back(register_service("Taken Name", "_kvtaken._tcp", "", other));
    refs.push_back(register_service("Mine", "_kvtaken._tcp", "", first));
    ASSERT_TRUE(pump(refs, [&] { return first.calls > 0; }));
    // The same records would be no conflict.
    refs.push_back(register_service("Mine", "_kvtaken._tcp", "", second, 10));
    ASSERT_TRUE(pump(refs, [&] { return other.calls > 0 && second.calls > 0; }));

    EXPECT_EQ(kDNSServiceErr_NameConflict, other.error);
    EXPECT_EQ("Taken Name", other.name);
    EXPECT_EQ(kDNSServiceErr_NoError, first.error);
    EXPECT_EQ(kDNSServiceErr_NameConflict, second.error);
    EXPECT_EQ(1, other.calls);
    EXPECT_EQ(1, second.calls);
}

TEST_F(ProviderLab, DeallocatingARegistrationWithdrawsIt) {
    browse_events seen;
    refs.push_back(browse("_kvgone._tcp", seen));
    registration registered;
    DNSServiceRef service = register_service("Gone Soon", "_kvgone._tcp", "", registered);
    ASSERT_TRUE(pump({refs[0], service}, [&] { return registered.calls > 0 && seen.added() > 0; }));
    EXPECT_EQ(kDNSServiceErr_NoError, registered.error);

    DNSServiceRefDeallocate(service);
    ASSERT_TRUE(pump(refs, [&] { return seen.events.size() > 1; }));
    EXPECT_FALSE(seen.events.back().added);
    EXPECT_EQ("Gone Soon", seen.events.back().name);
}

TEST_F(ProviderLab, BothSubtypeFormsFindTheDeviceOnItsInterface) {
    auto device = announce("_kvsub._tcp", 41, 1, {"_ravenna"});
    browse_events comma;
    browse_events sub;
    refs.push_back(browse("_kvsub._tcp,_ravenna", comma));
    refs.push_back(browse("_ravenna._sub._kvsub._tcp", sub));
    ASSERT_TRUE(pump(refs, [&] { return comma.added() > 0 && sub.added() > 0; }));
    for (const browse_events* seen : {&comma, &sub}) {
        const browse_event& found = seen->events.front();
        EXPECT_EQ("Studio 41", found.name);
        EXPECT_EQ("_kvsub._tcp.", found.type);
        EXPECT_EQ("local.", found.domain);
        EXPECT_NE(0u, found.interface_index);
    }

    DNSServiceRef two = nullptr;
    EXPECT_EQ(kDNSServiceErr_BadParam,
              DNSServiceBrowse(&two, 0, 0, "_kvsub._tcp,_a,_b", nullptr, on_browsed, &comma));
}

TEST_F(ProviderLab, DeallocatingInsideACallbackStopsDeliveryAtOnce) {
    auto devices = announce("_kvmany._tcp", 51, 5);
    browse_events stopped;
    stopped.deallocate_at_once = true;
    browse_events all;
    DNSServiceRef first = browse("_kvmany._tcp", stopped);
    refs.push_back(browse("_kvmany._tcp", all));
    // The daemon answers the browsers in the order they started.
    ASSERT_TRUE(pump(refs, [&] { return all.added() == 5; }));
    ASSERT_TRUE(provider_test::wait_readable(first));

    EXPECT_EQ(kDNSServiceErr_NoError, DNSServiceProcessResult(first));
    ASSERT_EQ(1u, stopped.events.size());
    EXPECT_NE(0u, stopped.events.front().flags & kDNSServiceFlagsMoreComing);
}

// References deallocated on one thread while their results wait, and others made and dropped
// on another: the connection goes on serving, and every operation is let go of.
TEST_F(ProviderLab, DeallocatingFromAnotherThreadWhileResultsAreQueuedIsSafe) {
    auto devices = announce("_kvrace._tcp", 61, 5);
    std::vector<browse_events> seen(102);
    refs.push_back(browse("_kvrace._tcp", seen[100]));
    ASSERT_TRUE(pump(refs, [&] { return seen[100].added() == 5; }));
    const int eventfds_before = provider_test::open_eventfds();
    std::vector<DNSServiceRef> queued;
    for (std::size_t i = 0; i < 50; ++i) {
        queued.push_back(browse("_kvrace._tcp", seen[i]));
    }
    for (DNSServiceRef ref : queued) {
        ASSERT_TRUE(provider_test::wait_readable(ref));
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
    EXPECT_EQ(eventfds_before + 1, provider_test::open_eventfds());
}

} // namespace
