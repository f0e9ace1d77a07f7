#include "dns_sd_provider.h"
#include "record_browser.h"
#include "service_ref.h"

DNSServiceErrorType DNSServiceQueryRecord(DNSServiceRef* sdRef, DNSServiceFlags,
                                          std::uint32_t interfaceIndex, const char* fullname,
                                          std::uint16_t rrtype, std::uint16_t rrclass,
                                          DNSServiceQueryRecordReply callBack, void* context) {
    if (fullname == nullptr || callBack == nullptr) {
        return kDNSServiceErr_BadParam;
    }
    using kvdns_sd::operation;
    auto on_record = [callBack, context](const kvdns_sd::record_event& event) -> operation::result {
        return [=](DNSServiceRef ref, DNSServiceFlags more_coming) {
            // Avahi gives no time to live.
            callBack(ref, more_coming | (event.added ? kDNSServiceFlagsAdd : 0),
                     event.interface_index, kDNSServiceErr_NoError, event.name.c_str(),
                     event.rrtype, event.rrclass, static_cast<std::uint16_t>(event.rdata.size()),
                     event.rdata.data(), 0, context);
        };
    };
    auto on_error = [callBack, context](DNSServiceErrorType error) -> operation::result {
        return [=](DNSServiceRef ref, DNSServiceFlags more_coming) {
            callBack(ref, more_coming, 0, error, "", 0, 0, 0, nullptr, 0, context);
        };
    };
    return kvdns_sd::start_operation(
        sdRef,
        kvdns_sd::record_browser(interfaceIndex, fullname, rrclass, rrtype, on_record, on_error));
}

// Avahi has no way to have a record verified.
DNSServiceErrorType DNSServiceReconfirmRecord(DNSServiceFlags, std::uint32_t, const char*,
                                              std::uint16_t, std::uint16_t, std::uint16_t,
                                              const void*) {
    return kDNSServiceErr_Unsupported;
}
