#include "avahi.h"
#include "dns_names.h"
#include "dns_sd_provider.h"
#include "operation.h"
#include "service_ref.h"
#include "txt_record.h"

#include <arpa/inet.h>

namespace kvdns_sd {
namespace {

daemon_object resolver(std::uint32_t interface_index, const std::string& name,
                       const std::string& type, const std::string& domain,
                       DNSServiceResolveReply callBack, void* context) {
    daemon_object object;
    object.interface = avahi::kServiceResolver;
    object.create = avahi::server_call("ServiceResolverPrepare");
    writer(*object.create) << avahi::interface_of(interface_index) << avahi::kProtocolIPv4 << name
                           << type << domain << avahi::kProtocolIPv4 << avahi::kLookupNoAddress;
    object.start = [](const std::string& path) {
        return avahi::start(path, avahi::kServiceResolver);
    };
    object.on_signal = [callBack, context](DBusMessage& signal,
                                           operation& op) -> DNSServiceErrorType {
        if (!dbus_message_has_member(&signal, "Found")) {
            return dbus_message_has_member(&signal, "Failure") ? kDNSServiceErr_Unknown
                                                               : kDNSServiceErr_NoError;
        }
        std::int32_t interface = 0;
        std::int32_t protocol = 0;
        std::string found_name;
        std::string found_type;
        std::string found_domain;
        std::string host;
        std::int32_t address_protocol = 0;
        std::string address;
        std::uint16_t port = 0;
        std::vector<std::string> txt;
        std::uint32_t flags = 0;
        if ((reader(signal) >> interface >> protocol >> found_name >> found_type >> found_domain >>
             host >> address_protocol >> address >> port >> txt >> flags)
                .ok()) {
            const std::string full = full_name(found_name, found_type, found_domain);
            const std::string target = with_trailing_dot(host);
            const std::string record = join_txt(txt);
            op.push([=](DNSServiceRef ref, DNSServiceFlags more_coming) {
                callBack(ref, more_coming, static_cast<std::uint32_t>(interface),
                         kDNSServiceErr_NoError, full.c_str(), target.c_str(), htons(port),
                         static_cast<std::uint16_t>(record.size()),
                         reinterpret_cast<const unsigned char*>(record.data()), context);
            });
        }
        return kDNSServiceErr_NoError;
    };
    object.on_error = [callBack, context](DNSServiceErrorType error, operation& op) {
        op.push([=](DNSServiceRef ref, DNSServiceFlags more_coming) {
            callBack(ref, more_coming, 0, error, "", "", 0, 0, nullptr, context);
        });
    };
    return object;
}

} // namespace
} // namespace kvdns_sd

DNSServiceErrorType DNSServiceResolve(DNSServiceRef* sdRef, DNSServiceFlags,
                                      std::uint32_t interfaceIndex, const char* name,
                                      const char* regtype, const char* domain,
                                      DNSServiceResolveReply callBack, void* context) {
    if (name == nullptr || regtype == nullptr || callBack == nullptr) {
        return kDNSServiceErr_BadParam;
    }
    return kvdns_sd::start_operation(
        sdRef, kvdns_sd::resolver(interfaceIndex, name, kvdns_sd::without_trailing_dot(regtype),
                                  domain != nullptr ? kvdns_sd::without_trailing_dot(domain) : "",
                                  callBack, context));
}
