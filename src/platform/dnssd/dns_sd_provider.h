#pragma once

// The DNS-SD entry points libkvdns_sd.so exports, with the documented signatures: those of
// <dns_sd.h>, and DNSServiceGetAddrInfo, which Avahi's copy of that header predates.
//
// Every operation is served by avahi-daemon over one D-Bus connection per process, on one
// dispatch thread. Creating an operation never waits for the daemon: results and errors reach the
// callback later, from DNSServiceProcessResult on the caller's thread, while the descriptor of
// DNSServiceRefSockFD is readable. A creating call answers kDNSServiceErr_ServiceNotRunning when
// the system bus cannot be reached or avahi-daemon is known to be absent; an operation whose
// daemon goes away gets kDNSServiceErr_ServiceNotRunning in its callback.

#include "dns_sd_additions.h"

extern "C" DNSServiceErrorType
DNSServiceGetAddrInfo(DNSServiceRef* sdRef, DNSServiceFlags flags, std::uint32_t interfaceIndex,
                      dns_sd::DNSServiceProtocol protocol, const char* hostname,
                      dns_sd::DNSServiceGetAddrInfoReply callBack, void* context);
