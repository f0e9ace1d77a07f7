#pragma once

// The nine DNS-SD functions the library uses, bound at run time to the platform's DNS-SD client
// library so that the program starts and runs without discovery where it is missing. Each has
// the signature of the documented function of the same name; when the library or the entry
// point is missing it answers kDNSServiceErr_ServiceNotRunning (DNSServiceRefSockFD: -1).
//
// The library is the file named by KVPORTAL_DNSSD_LIBRARY, else the program's own provider
// (libkvdns_sd.so among the program's helpers), else Avahi's "libdns_sd.so.1". It is loaded while
// the process starts and stays loaded until the process ends.

#include "dns_sd_additions.h"

#include <cstdint>

namespace zeroconf::binding {

using dns_sd::DNSServiceGetAddrInfoReply;
using dns_sd::DNSServiceProtocol;
using dns_sd::kDNSServiceErr_ServiceNotRunning;
using dns_sd::kDNSServiceFlagsForce;
using dns_sd::kDNSServiceFlagsReturnIntermediates;
using dns_sd::kDNSServiceFlagsWakeOnResolve;
using dns_sd::kDNSServiceProtocol_IPv4;

// Whether a library with DNSServiceBrowse was loaded: its errors then come from its daemon.
bool browse_available();

int DNSServiceRefSockFD(DNSServiceRef sdRef);

DNSServiceErrorType DNSServiceProcessResult(DNSServiceRef sdRef);

void DNSServiceRefDeallocate(DNSServiceRef sdRef);

DNSServiceErrorType DNSServiceRegister(DNSServiceRef* sdRef, DNSServiceFlags flags,
                                       std::uint32_t interfaceIndex, const char* name,
                                       const char* regtype, const char* domain, const char* host,
                                       std::uint16_t port, std::uint16_t txtLen,
                                       const void* txtRecord, DNSServiceRegisterReply callBack,
                                       void* context);

DNSServiceErrorType DNSServiceBrowse(DNSServiceRef* sdRef, DNSServiceFlags flags,
                                     std::uint32_t interfaceIndex, const char* regtype,
                                     const char* domain, DNSServiceBrowseReply callBack,
                                     void* context);

DNSServiceErrorType DNSServiceResolve(DNSServiceRef* sdRef, DNSServiceFlags flags,
                                      std::uint32_t interfaceIndex, const char* name,
                                      const char* regtype, const char* domain,
                                      DNSServiceResolveReply callBack, void* context);

DNSServiceErrorType DNSServiceQueryRecord(DNSServiceRef* sdRef, DNSServiceFlags flags,
                                          std::uint32_t interfaceIndex, const char* fullname,
                                          std::uint16_t rrtype, std::uint16_t rrclass,
                                          DNSServiceQueryRecordReply callBack, void* context);

DNSServiceErrorType DNSServiceReconfirmRecord(DNSServiceFlags flags, std::uint32_t interfaceIndex,
                                              const char* fullname, std::uint16_t rrtype,
                                              std::uint16_t rrclass, std::uint16_t rdlen,
                                              const void* rdata);

DNSServiceErrorType DNSServiceGetAddrInfo(DNSServiceRef* sdRef, DNSServiceFlags flags,
                                          std::uint32_t interfaceIndex, DNSServiceProtocol protocol,
                                          const char* hostname, DNSServiceGetAddrInfoReply callBack,
                                          void* context);

} // namespace zeroconf::binding
