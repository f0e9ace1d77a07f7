#pragma once

// Parts of the DNS-SD interface that Avahi's copy of dns_sd.h predates, with their documented
// values: what the provider serves and what the discovery library asks of any provider.

#include <dns_sd.h>

#include <cstdint>

struct sockaddr;

namespace dns_sd {

constexpr DNSServiceErrorType kDNSServiceErr_ServiceNotRunning = -65563;
constexpr DNSServiceFlags kDNSServiceFlagsForce = 0x800;
constexpr DNSServiceFlags kDNSServiceFlagsReturnIntermediates = 0x1000;
constexpr DNSServiceFlags kDNSServiceFlagsWakeOnResolve = 0x40000;

using DNSServiceProtocol = std::uint32_t;
constexpr DNSServiceProtocol kDNSServiceProtocol_IPv4 = 0x01;

using DNSServiceGetAddrInfoReply = void (*)(DNSServiceRef sdRef, DNSServiceFlags flags,
                                            std::uint32_t interfaceIndex,
                                            DNSServiceErrorType errorCode, const char* hostname,
                                            const sockaddr* address, std::uint32_t ttl,
                                            void* context);

} // namespace dns_sd
