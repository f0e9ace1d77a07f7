#include "dns_sd_provider.h"
#include "record_browser.h"
#include "service_ref.h"

#include <netinet/in.h>

#include <cstring>

using dns_sd::DNSServiceGetAddrInfoReply;
using dns_sd::DNSServiceProtocol;

// IPv4 only, from the host's A records.
DNSServiceErrorType DNSServiceGetAddrInfo(DNSServiceRef* sdRef, DNSServiceFlags,
                                          std::uint32_t interfaceIndex, DNSServiceProtocol protocol,
                                          const char* hostname, DNSServiceGetAddrInfoReply callBack,
                                          void* context) {
    if (hostname == nullptr || callBack == nullptr) {
        return kDNSServiceErr_BadParam;
    }
    if (protocol != dns_sd::kDNSServiceProtocol_IPv4) {
        return kDNSServiceErr_Unsupported;
    }
    using kvdns_sd::operation;
    const std::string host = hostname;
    auto on_record = [callBack, context,
                      host](const kvdns_sd::record_event& event) -> operation::result {
        sockaddr_in address{};
        if (event.rdata.size() != sizeof(address.sin_addr)) {
            return nullptr;
        }
        address.sin_family = AF_INET;
        std::memcpy(&address.sin_addr, event.rdata.data(), sizeof(address.sin_addr));
        return [=](DNSServiceRef ref, DNSServiceFlags more_coming) {
            callBack(ref, more_coming | (event.added ? kDNSServiceFlagsAdd : 0),
                     event.interface_index, kDNSServiceErr_NoError, host.c_str(),
                     reinterpret_cast<const sockaddr*>(&address), 0, context);
        };
    };
    auto on_error = [callBack, context, host](DNSServiceErrorType error) -> operation::result {
        return [=](DNSServiceRef ref, DNSServiceFlags more_coming) {
            callBack(ref, more_coming, 0, error, host.c_str(), nullptr, 0, context);
        };
    };
    return kvdns_sd::start_operation(
        sdRef, kvdns_sd::record_browser(interfaceIndex, host, kDNSServiceClass_IN,
                                        kDNSServiceType_A, on_record, on_error));
}
