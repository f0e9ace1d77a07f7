// The program's own DNS-SD provider without a bus, and when avahi-daemon goes away.
#include "Lab.h"
#include "Unavailable.h"
#include "provider_harness.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

using kv::test::Lab;
using provider_test::browse_events;
using provider_test::on_browsed;
using provider_test::on_registered;
using provider_test::pump;
using provider_test::registration;

namespace {

constexpr DNSServiceErrorType kServiceNotRunning = dns_sd::kDNSServiceErr_ServiceNotRunning;

void on_resolved(DNSServiceRef, DNSServiceFlags, std::uint32_t, DNSServiceErrorType, const char*,
                 const char*, std::uint16_t, std::uint16_t, const unsigned char*, void*) {}

void on_record(DNSServiceRef, DNSServiceFlags, std::uint32_t, DNSServiceErrorType, const char*,
               std::uint16_t, std::uint16_t, std::uint16_t, const void*, std::uint32_t, void*) {}

void on_address(DNSServiceRef, DNSServiceFlags, std::uint32_t, DNSServiceErrorType, const char*,
                const sockaddr*, std::uint32_t, void*) {}

// Runs first: the bus is opened on first use, and only once it can be reached.
TEST(ProviderOutage, UnreachableBusFailsEveryCreatingCallAsServiceNotRunning) {
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/kvdns_sd/bus.socket", 1);
    DNSServiceRef ref = nullptr;
    EXPECT_EQ(kServiceNotRunning,
              DNSServiceBrowse(&ref, 0, 0, "_http._tcp", nullptr, on_browsed, nullptr));
    EXPECT_EQ(kServiceNotRunning, DNSServiceResolve(&ref, 0, 0, "Studio A", "_http._tcp", "local",
                                                    on_resolved, nullptr));
    EXPECT_EQ(kServiceNotRunning,
              DNSServiceQueryRecord(&ref, 0, 0, "korvex-1.local", kDNSServiceType_A,
                                    kDNSServiceClass_IN, on_record, nullptr));
    EXPECT_EQ(kServiceNotRunning,
              DNSServiceGetAddrInfo(&ref, 0, 0, dns_sd::kDNSServiceProtocol_IPv4, "korvex-1.local",
                                    on_address, nullptr));
    EXPECT_EQ(kServiceNotRunning,
              DNSServiceRegister(&ref, 0, 0, "Studio A", "_http._tcp", nullptr, nullptr, htons(80),
                                 0, nullptr, on_registered, nullptr));
    EXPECT_EQ(nullptr, ref);
}

TEST(ProviderOutage, StoppedDaemonEndsLiveOperationsAndRefusesNewOnes) {
    std::string cannot;
    auto lab = Lab::start(cannot);
    if (lab == nullptr) {
        return kv::test::unavailable("no network namespace on this machine: " + cannot);
    }
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", lab->busAddress().c_str(), 1);
    auto device = lab->publishService({"Studio A", "_kvout._tcp", 80, "", {}, {}});

    browse_events browsed;
    registration registered;
    DNSServiceRef browse = nullptr;
    DNSServiceRef service = nullptr;
    ASSERT_EQ(kDNSServiceErr_NoError,
              DNSServiceBrowse(&browse, 0, 0, "_kvout._tcp", nullptr, on_browsed, &browsed));
    ASSERT_EQ(kDNSServiceErr_NoError,
              DNSServiceRegister(&service, 0, 0, "Studio B", "_kvout._tcp", nullptr, nullptr,
                                 htons(80), 0, nullptr, on_registered, &registered));
    ASSERT_TRUE(
        pump({browse, service}, [&] { return !browsed.events.empty() && registered.calls > 0; }));
    ASSERT_EQ(kDNSServiceErr_NoError, browsed.error);
    ASSERT_EQ(kDNSServiceErr_NoError, registered.error);

    lab->stopAvahi();
    ASSERT_TRUE(pump({browse, service}, [&] {
        return browsed.error != kDNSServiceErr_NoError &&
               registered.error != kDNSServiceErr_NoError;
    }));
    EXPECT_EQ(kServiceNotRunning, browsed.error);
    EXPECT_EQ(kServiceNotRunning, registered.error);

    DNSServiceRef later = nullptr;
    EXPECT_EQ(kServiceNotRunning,
              DNSServiceBrowse(&later, 0, 0, "_kvout._tcp", nullptr, on_browsed, nullptr));
    EXPECT_EQ(nullptr, later);
    DNSServiceRefDeallocate(browse);
    DNSServiceRefDeallocate(service);
}

} // namespace
