#include "dns_sd_binding.h"

#include "avahi_adaptation.h"
#include "dns_sd_library.h"

namespace zeroconf::binding {

using dns_sd_library::entry;
using dns_sd_library::lookup_as;

int DNSServiceRefSockFD(DNSServiceRef sdRef) {
    if (dns_sd_library::is_avahi()) {
        return avahi_adaptation::ref_sock_fd(sdRef);
    }
    auto* function = lookup_as<decltype(::DNSServiceRefSockFD)>(entry::ref_sock_fd);
    return function != nullptr ? function(sdRef) : -1;
}

DNSServiceErrorType DNSServiceProcessResult(DNSServiceRef sdRef) {
    if (dns_sd_library::is_avahi()) {
        return avahi_adaptation::process_result(sdRef);
    }
    auto* function = lookup_as<decltype(::DNSServiceProcessResult)>(entry::process_result);
    return function != nullptr ? function(sdRef) : kDNSServiceErr_ServiceNotRunning;
}

void DNSServiceRefDeallocate(DNSServiceRef sdRef) {
    if (dns_sd_library::is_avahi()) {
        avahi_adaptation::ref_deallocate(sdRef);
        return;
    }
    auto* function = lookup_as<decltype(::DNSServiceRefDeallocate)>(entry::ref_deallocate);
    if (function != nullptr) {
        function(sdRef);
    }
}

DNSServiceErrorType DNSServiceRegister(DNSServiceRef* sdRef, DNSServiceFlags flags,
                                       std::uint32_t interfaceIndex, const char* name,
                                       const char* regtype, const char* domain, const char* host,
                                       std::uint16_t port, std::uint16_t txtLen,
                                       const void* txtRecord, DNSServiceRegisterReply callBack,
                                       void* context) {
    if (dns_sd_library::is_avahi()) {
        return avahi_adaptation::register_service(sdRef, flags, interfaceIndex, name, regtype,
                                                  domain, host, port, txtLen, txtRecord, callBack,
                                                  context);
    }
    auto* function = lookup_as<decltype(::DNSServiceRegister)>(entry::register_service);
    return function != nullptr ? function(sdRef, flags, interfaceIndex, name, regtype, domain, host,
                                          port, txtLen, txtRecord, callBack, context)
                               : kDNSServiceErr_ServiceNotRunning;
}

bool browse_available() {
    return dns_sd_library::lookup(entry::browse) != nullptr;
}

DNSServiceErrorType DNSServiceBrowse(DNSServiceRef* sdRef, DNSServiceFlags flags,
                                     std::uint32_t interfaceIndex, const char* regtype,
                                     const char* domain, DNSServiceBrowseReply callBack,
                                     void* context) {
    if (dns_sd_library::is_avahi()) {
        return avahi_adaptation::browse(sdRef, flags, interfaceIndex, regtype, domain, callBack,
                                        context);
    }
    auto* function = lookup_as<decltype(::DNSServiceBrowse)>(entry::browse);
    return function != nullptr
               ? function(sdRef, flags, interfaceIndex, regtype, domain, callBack, context)
               : kDNSServiceErr_ServiceNotRunning;
}

DNSServiceErrorType DNSServiceResolve(DNSServiceRef* sdRef, DNSServiceFlags flags,
                                      std::uint32_t interfaceIndex, const char* name,
                                      const char* regtype, const char* domain,
                                      DNSServiceResolveReply callBack, void* context) {
    if (dns_sd_library::is_avahi()) {
        return avahi_adaptation::resolve(sdRef, flags, interfaceIndex, name, regtype, domain,
                                         callBack, context);
    }
    auto* function = lookup_as<decltype(::DNSServiceResolve)>(entry::resolve);
    return function != nullptr
               ? function(sdRef, flags, interfaceIndex, name, regtype, domain, callBack, context)
               : kDNSServiceErr_ServiceNotRunning;
}

DNSServiceErrorType DNSServiceQueryRecord(DNSServiceRef* sdRef, DNSServiceFlags flags,
                                          std::uint32_t interfaceIndex, const char* fullname,
                                          std::uint16_t rrtype, std::uint16_t rrclass,
                                          DNSServiceQueryRecordReply callBack, void* context) {
    if (dns_sd_library::is_avahi()) {
        return avahi_adaptation::query_record(sdRef, flags, interfaceIndex, fullname, rrtype,
                                              rrclass, callBack, context);
    }
    auto* function = lookup_as<decltype(::DNSServiceQueryRecord)>(entry::query_record);
    return function != nullptr ? function(sdRef, flags, interfaceIndex, fullname, rrtype, rrclass,
                                          callBack, context)
                               : kDNSServiceErr_ServiceNotRunning;
}

DNSServiceErrorType DNSServiceReconfirmRecord(DNSServiceFlags flags, std::uint32_t interfaceIndex,
                                              const char* fullname, std::uint16_t rrtype,
                                              std::uint16_t rrclass, std::uint16_t rdlen,
                                              const void* rdata) {
    if (dns_sd_library::is_avahi()) {
        return avahi_adaptation::reconfirm_record();
    }
    auto* function = lookup_as<decltype(::DNSServiceReconfirmRecord)>(entry::reconfirm_record);
    return function != nullptr
               ? function(flags, interfaceIndex, fullname, rrtype, rrclass, rdlen, rdata)
               : kDNSServiceErr_ServiceNotRunning;
}

DNSServiceErrorType DNSServiceGetAddrInfo(DNSServiceRef* sdRef, DNSServiceFlags flags,
                                          std::uint32_t interfaceIndex, DNSServiceProtocol protocol,
                                          const char* hostname, DNSServiceGetAddrInfoReply callBack,
                                          void* context) {
    if (dns_sd_library::is_avahi()) {
        return avahi_adaptation::get_addr_info(sdRef, interfaceIndex, protocol, hostname, callBack,
                                               context);
    }
    auto* function = lookup_as<decltype(DNSServiceGetAddrInfo)>(entry::get_addr_info);
    return function != nullptr
               ? function(sdRef, flags, interfaceIndex, protocol, hostname, callBack, context)
               : kDNSServiceErr_ServiceNotRunning;
}

} // namespace zeroconf::binding
