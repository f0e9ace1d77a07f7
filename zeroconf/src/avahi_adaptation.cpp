#include "avahi_adaptation.h"

#include "dns_sd_library.h"

#include <netinet/in.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>

namespace zeroconf::avahi_adaptation {
namespace {

using binding::kDNSServiceErr_ServiceNotRunning;
using dns_sd_library::entry;
using dns_sd_library::lookup_as;

// What the caller holds in place of Avahi's reference.
struct avahi_ref {
    DNSServiceRef inner = nullptr;
    // Stands in for Avahi's socket once a renamed registration has been withdrawn.
    int withdrawn_fd = -1;
    void* context = nullptr;
    DNSServiceBrowseReply browse_reply = nullptr;
    DNSServiceResolveReply resolve_reply = nullptr;
    DNSServiceQueryRecordReply query_reply = nullptr;
    DNSServiceRegisterReply register_reply = nullptr;
    binding::DNSServiceGetAddrInfoReply addr_reply = nullptr;
    // The registration's name, or the host name whose address is asked for.
    std::string name;
    bool no_auto_rename = false;
};

avahi_ref* from(DNSServiceRef ref) {
    return reinterpret_cast<avahi_ref*>(ref);
}
DNSServiceRef to(avahi_ref* ref) {
    return reinterpret_cast<DNSServiceRef>(ref);
}

void deallocate_inner(avahi_ref& ref) {
    auto* function = lookup_as<decltype(::DNSServiceRefDeallocate)>(entry::ref_deallocate);
    if (ref.inner != nullptr && function != nullptr) {
        function(ref.inner);
    }
    ref.inner = nullptr;
}

// Starts Avahi's operation for a new wrapper and hands the wrapper out only when it succeeded.
template <typename Start>
DNSServiceErrorType start(DNSServiceRef* sdRef, std::unique_ptr<avahi_ref> ref, Start start_inner) {
    const DNSServiceErrorType error = start_inner(*ref);
    if (error == kDNSServiceErr_NoError) {
        *sdRef = to(ref.release());
    }
    return error;
}

void browse_reply(DNSServiceRef, DNSServiceFlags flags, std::uint32_t interfaceIndex,
                  DNSServiceErrorType errorCode, const char* serviceName, const char* regtype,
                  const char* replyDomain, void* context) {
    avahi_ref* ref = static_cast<avahi_ref*>(context);
    ref->browse_reply(to(ref), flags, interfaceIndex, errorCode, serviceName, regtype, replyDomain,
                      ref->context);
}

void resolve_reply(DNSServiceRef, DNSServiceFlags flags, std::uint32_t interfaceIndex,
                   DNSServiceErrorType errorCode, const char* fullname, const char* hosttarget,
                   std::uint16_t port, std::uint16_t txtLen, const unsigned char* txtRecord,
                   void* context) {
    avahi_ref* ref = static_cast<avahi_ref*>(context);
    ref->resolve_reply(to(ref), flags, interfaceIndex, errorCode, fullname, hosttarget, port,
                       txtLen, txtRecord, ref->context);
}

void query_reply(DNSServiceRef, DNSServiceFlags flags, std::uint32_t interfaceIndex,
                 DNSServiceErrorType errorCode, const char* fullname, std::uint16_t rrtype,
                 std::uint16_t rrclass, std::uint16_t rdlen, const void* rdata, std::uint32_t ttl,
                 void* context) {
    avahi_ref* ref = static_cast<avahi_ref*>(context);
    ref->query_reply(to(ref), flags, interfaceIndex, errorCode, fullname, rrtype, rrclass, rdlen,
                     rdata, ttl, ref->context);
}

void addr_reply(DNSServiceRef, DNSServiceFlags flags, std::uint32_t interfaceIndex,
                DNSServiceErrorType errorCode, const char*, std::uint16_t, std::uint16_t,
                std::uint16_t rdlen, const void* rdata, std::uint32_t ttl, void* context) {
    avahi_ref* ref = static_cast<avahi_ref*>(context);
    sockaddr_in address{};
    const sockaddr* answer = nullptr;
    if (errorCode == kDNSServiceErr_NoError && rdlen == sizeof(address.sin_addr) &&
        rdata != nullptr) {
        address.sin_family = AF_INET;
        std::memcpy(&address.sin_addr, rdata, sizeof(address.sin_addr));
        answer = reinterpret_cast<const sockaddr*>(&address);
    }
    // Avahi's answer names the host without its trailing dot; the caller gets the name it asked.
    ref->addr_reply(to(ref), flags, interfaceIndex, errorCode, ref->name.c_str(), answer, ttl,
                    ref->context);
}

void register_reply(DNSServiceRef, DNSServiceFlags flags, DNSServiceErrorType errorCode,
                    const char* name, const char* regtype, const char* domain, void* context) {
    avahi_ref* ref = static_cast<avahi_ref*>(context);
    if (errorCode == kDNSServiceErr_NoError && ref->no_auto_rename && !ref->name.empty() &&
        name != nullptr && ref->name != name) {
        // Avahi allows its own reference to be released inside its reply.
        deallocate_inner(*ref);
        ref->withdrawn_fd = ::eventfd(0, EFD_CLOEXEC);
        errorCode = kDNSServiceErr_NameConflict;
        name = ref->name.c_str();
    }
    ref->register_reply(to(ref), flags, errorCode, name, regtype, domain, ref->context);
}

} // namespace

int ref_sock_fd(DNSServiceRef sdRef) {
    avahi_ref* ref = from(sdRef);
    if (ref->inner == nullptr) {
        return ref->withdrawn_fd;
    }
    auto* function = lookup_as<decltype(::DNSServiceRefSockFD)>(entry::ref_sock_fd);
    return function != nullptr ? function(ref->inner) : -1;
}

DNSServiceErrorType process_result(DNSServiceRef sdRef) {
    avahi_ref* ref = from(sdRef);
    auto* function = lookup_as<decltype(::DNSServiceProcessResult)>(entry::process_result);
    if (function == nullptr) {
        return kDNSServiceErr_ServiceNotRunning;
    }
    // A withdrawn registration has nothing left to deliver.
    return ref->inner != nullptr ? function(ref->inner) : kDNSServiceErr_NoError;
}

void ref_deallocate(DNSServiceRef sdRef) {
    std::unique_ptr<avahi_ref> ref(from(sdRef));
    if (ref == nullptr) {
        return;
    }
    deallocate_inner(*ref);
    if (ref->withdrawn_fd >= 0) {
        ::close(ref->withdrawn_fd);
    }
}

DNSServiceErrorType register_service(DNSServiceRef* sdRef, DNSServiceFlags flags,
                                     std::uint32_t interfaceIndex, const char* name,
                                     const char* regtype, const char* domain, const char* host,
                                     std::uint16_t port, std::uint16_t txtLen,
                                     const void* txtRecord, DNSServiceRegisterReply callBack,
                                     void* context) {
    auto* function = lookup_as<decltype(::DNSServiceRegister)>(entry::register_service);
    if (function == nullptr) {
        return kDNSServiceErr_ServiceNotRunning;
    }
    auto ref = std::make_unique<avahi_ref>();
    ref->context = context;
    ref->register_reply = callBack;
    ref->name = name != nullptr ? name : "";
    ref->no_auto_rename = (flags & kDNSServiceFlagsNoAutoRename) != 0;
    return start(sdRef, std::move(ref), [&](avahi_ref& wrapper) {
        return function(&wrapper.inner, 0, interfaceIndex, name, regtype, domain, host, port,
                        txtLen, txtRecord, callBack != nullptr ? register_reply : nullptr,
                        &wrapper);
    });
}

DNSServiceErrorType browse(DNSServiceRef* sdRef, DNSServiceFlags, std::uint32_t interfaceIndex,
                           const char* regtype, const char* domain, DNSServiceBrowseReply callBack,
                           void* context) {
    auto* function = lookup_as<decltype(::DNSServiceBrowse)>(entry::browse);
    if (function == nullptr) {
        return kDNSServiceErr_ServiceNotRunning;
    }
    auto ref = std::make_unique<avahi_ref>();
    ref->context = context;
    ref->browse_reply = callBack;
    return start(sdRef, std::move(ref), [&](avahi_ref& wrapper) {
        return function(&wrapper.inner, 0, interfaceIndex, regtype, domain, browse_reply, &wrapper);
    });
}

DNSServiceErrorType resolve(DNSServiceRef* sdRef, DNSServiceFlags, std::uint32_t interfaceIndex,
                            const char* name, const char* regtype, const char* domain,
                            DNSServiceResolveReply callBack, void* context) {
    auto* function = lookup_as<decltype(::DNSServiceResolve)>(entry::resolve);
    if (function == nullptr) {
        return kDNSServiceErr_ServiceNotRunning;
    }
    auto ref = std::make_unique<avahi_ref>();
    ref->context = context;
    ref->resolve_reply = callBack;
    return start(sdRef, std::move(ref), [&](avahi_ref& wrapper) {
        return function(&wrapper.inner, 0, interfaceIndex, name, regtype, domain, resolve_reply,
                        &wrapper);
    });
}

DNSServiceErrorType query_record(DNSServiceRef* sdRef, DNSServiceFlags,
                                 std::uint32_t interfaceIndex, const char* fullname,
                                 std::uint16_t rrtype, std::uint16_t rrclass,
                                 DNSServiceQueryRecordReply callBack, void* context) {
    auto* function = lookup_as<decltype(::DNSServiceQueryRecord)>(entry::query_record);
    if (function == nullptr) {
        return kDNSServiceErr_ServiceNotRunning;
    }
    auto ref = std::make_unique<avahi_ref>();
    ref->context = context;
    ref->query_reply = callBack;
    return start(sdRef, std::move(ref), [&](avahi_ref& wrapper) {
        return function(&wrapper.inner, 0, interfaceIndex, fullname, rrtype, rrclass, query_reply,
                        &wrapper);
    });
}

DNSServiceErrorType reconfirm_record() {
    return kDNSServiceErr_Unsupported;
}

DNSServiceErrorType get_addr_info(DNSServiceRef* sdRef, std::uint32_t interfaceIndex,
                                  binding::DNSServiceProtocol protocol, const char* hostname,
                                  binding::DNSServiceGetAddrInfoReply callBack, void* context) {
    if (protocol != binding::kDNSServiceProtocol_IPv4) {
        return kDNSServiceErr_Unsupported;
    }
    auto* function = lookup_as<decltype(::DNSServiceQueryRecord)>(entry::query_record);
    if (function == nullptr) {
        return kDNSServiceErr_ServiceNotRunning;
    }
    auto ref = std::make_unique<avahi_ref>();
    ref->context = context;
    ref->addr_reply = callBack;
    ref->name = hostname != nullptr ? hostname : "";
    return start(sdRef, std::move(ref), [&](avahi_ref& wrapper) {
        return function(&wrapper.inner, 0, interfaceIndex, hostname, kDNSServiceType_A,
                        kDNSServiceClass_IN, addr_reply, &wrapper);
    });
}

} // namespace zeroconf::avahi_adaptation
