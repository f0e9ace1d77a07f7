#pragma once

// The one place that adapts the program's DNS-SD calls to Avahi's Bonjour compatibility library
// (libdns_sd.so.1 on Linux), recognised by its export avahi_warn_unsupported. That library
// answers kDNSServiceErr_Unsupported, and prints a warning nothing can silence, to much of what
// the program asks, so no call it would refuse is ever made:
// - DNSServiceBrowse, DNSServiceResolve, DNSServiceQueryRecord and DNSServiceRegister refuse any
//   flags but 0: they are called with 0.
// - DNSServiceReconfirmRecord is a stub that refuses: it is answered here with
//   kDNSServiceErr_Unsupported.
// - DNSServiceGetAddrInfo is missing: an IPv4 request is served by an A-record query of the host
//   name whose answer reaches the caller as a sockaddr_in; other protocols are unsupported.
// - It renames a registration whose name is taken on the network and reports the new name with
//   error 0. A registration asked for with kDNSServiceFlagsNoAutoRename then reaches the caller
//   as kDNSServiceErr_NameConflict under its own name, and the renamed announcement is withdrawn.
// Every reference handed out wraps Avahi's own, so that replies carry the caller's reference and
// a withdrawn registration keeps a socket that never becomes readable.
// Any other provider gets the calls unchanged.

#include "dns_sd_binding.h"

namespace zeroconf::avahi_adaptation {

int ref_sock_fd(DNSServiceRef sdRef);
DNSServiceErrorType process_result(DNSServiceRef sdRef);
void ref_deallocate(DNSServiceRef sdRef);

DNSServiceErrorType register_service(DNSServiceRef* sdRef, DNSServiceFlags flags,
                                     std::uint32_t interfaceIndex, const char* name,
                                     const char* regtype, const char* domain, const char* host,
                                     std::uint16_t port, std::uint16_t txtLen,
                                     const void* txtRecord, DNSServiceRegisterReply callBack,
                                     void* context);

DNSServiceErrorType browse(DNSServiceRef* sdRef, DNSServiceFlags flags,
                           std::uint32_t interfaceIndex, const char* regtype, const char* domain,
                           DNSServiceBrowseReply callBack, void* context);

DNSServiceErrorType resolve(DNSServiceRef* sdRef, DNSServiceFlags flags,
                            std::uint32_t interfaceIndex, const char* name, const char* regtype,
                            const char* domain, DNSServiceResolveReply callBack, void* context);

DNSServiceErrorType query_record(DNSServiceRef* sdRef, DNSServiceFlags flags,
                                 std::uint32_t interfaceIndex, const char* fullname,
                                 std::uint16_t rrtype, std::uint16_t rrclass,
                                 DNSServiceQueryRecordReply callBack, void* context);

DNSServiceErrorType reconfirm_record();

DNSServiceErrorType get_addr_info(DNSServiceRef* sdRef, std::uint32_t interfaceIndex,
                                  binding::DNSServiceProtocol protocol, const char* hostname,
                                  binding::DNSServiceGetAddrInfoReply callBack, void* context);

} // namespace zeroconf::avahi_adaptation
