#include "avahi.h"
#include "dns_names.h"
#include "dns_sd_provider.h"
#include "operation.h"
#include "service_ref.h"

namespace kvdns_sd {
namespace {

daemon_object browser(std::uint32_t interface_index, const std::string& type,
                      const std::string& domain, DNSServiceBrowseReply callBack, void* context) {
    daemon_object object;
    object.interface = avahi::kServiceBrowser;
    object.create = avahi::server_call("ServiceBrowserPrepare");
    writer(*object.create) << avahi::interface_of(interface_index) << avahi::kProtocolIPv4 << type
                           << domain << std::uint32_t{0};
    object.start = [](const std::string& path) {
        return avahi::start(path, avahi::kServiceBrowser);
    };
    object.on_signal = [callBack, context](DBusMessage& signal,
                                           operation& op) -> DNSServiceErrorType {
        const bool added = dbus_message_has_member(&signal, "ItemNew");
        if (!added && !dbus_message_has_member(&signal, "ItemRemove")) {
            return dbus_message_has_member(&signal, "Failure") ? kDNSServiceErr_Unknown
                                                               : kDNSServiceErr_NoError;
        }
        std::int32_t interface = 0;
        std::int32_t protocol = 0;
        std::string name;
        std::string found_type;
        std::string found_domain;
        std::uint32_t flags = 0;
        if ((reader(signal) >> interface >> protocol >> name >> found_type >> found_domain >> flags)
                .ok()) {
            found_type = with_trailing_dot(found_type);
            found_domain = with_trailing_dot(found_domain);
            op.push([=](DNSServiceRef ref, DNSServiceFlags more_coming) {
                callBack(ref, more_coming | (added ? kDNSServiceFlagsAdd : 0),
                         static_cast<std::uint32_t>(interface), kDNSServiceErr_NoError,
                         name.c_str(), found_type.c_str(), found_domain.c_str(), context);
            });
        }
        return kDNSServiceErr_NoError;
    };
    object.on_error = [callBack, context](DNSServiceErrorType error, operation& op) {
        op.push([=](DNSServiceRef ref, DNSServiceFlags more_coming) {
            callBack(ref, more_coming, 0, error, "", "", "", context);
        });
    };
    return object;
}

} // namespace
} // namespace kvdns_sd

DNSServiceErrorType DNSServiceBrowse(DNSServiceRef* sdRef, DNSServiceFlags,
                                     std::uint32_t interfaceIndex, const char* regtype,
                                     const char* domain, DNSServiceBrowseReply callBack,
                                     void* context) {
    std::string type;
    if (regtype == nullptr || callBack == nullptr || !kvdns_sd::browse_type(regtype, type)) {
        return kDNSServiceErr_BadParam;
    }
    return kvdns_sd::start_operation(sdRef, kvdns_sd::browser(interfaceIndex, type,
                                                              domain != nullptr ? domain : "",
                                                              callBack, context));
}
