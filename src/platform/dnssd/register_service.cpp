#include "avahi.h"
#include "dns_names.h"
#include "dns_sd_provider.h"
#include "operation.h"
#include "service_ref.h"
#include "txt_record.h"

#include <arpa/inet.h>

#include <algorithm>

namespace kvdns_sd {
namespace {

struct registration {
    std::int32_t interface = 0;
    std::string name;
    std::string type;
    std::vector<std::string> subtypes;
    std::string domain;
    std::string host;
    std::uint16_t port = 0;
    std::vector<std::string> txt;
};

// The entry group's calls once it exists: the service, its subtypes, and the commit.
std::vector<message_ptr> publish(const registration& entry, const std::string& path) {
    std::vector<message_ptr> calls;
    calls.push_back(avahi::object_call(path, avahi::kEntryGroup, "AddService"));
    writer(*calls.back()) << entry.interface << avahi::kProtocolAny << std::uint32_t{0}
                          << entry.name << entry.type << entry.domain << entry.host << entry.port
                          << entry.txt;
    for (const auto& subtype : entry.subtypes) {
        calls.push_back(avahi::object_call(path, avahi::kEntryGroup, "AddServiceSubtype"));
        writer(*calls.back()) << entry.interface << avahi::kProtocolAny << std::uint32_t{0}
                              << entry.name << entry.type << entry.domain << subtype;
    }
    calls.push_back(avahi::object_call(path, avahi::kEntryGroup, "Commit"));
    return calls;
}

// Names are never changed to resolve a conflict: a conflict is an error.
daemon_object entry_group(const registration& entry, DNSServiceRegisterReply callBack,
                          void* context) {
    const std::string name = entry.name;
    const std::string type = with_trailing_dot(entry.type);
    const std::string domain = with_trailing_dot(entry.domain.empty() ? "local" : entry.domain);
    auto reply = [callBack, context, name, type, domain](DNSServiceFlags flags,
                                                         DNSServiceErrorType error) {
        return [=](DNSServiceRef ref, DNSServiceFlags more_coming) {
            callBack(ref, flags | more_coming, error, name.c_str(), type.c_str(), domain.c_str(),
                     context);
        };
    };
    daemon_object object;
    object.interface = avahi::kEntryGroup;
    object.create = avahi::server_call("EntryGroupNew");
    object.start = [entry](const std::string& path) { return publish(entry, path); };
    object.on_signal = [reply](DBusMessage& signal, operation& op) -> DNSServiceErrorType {
        std::int32_t state = 0;
        std::string error;
        if (!dbus_message_has_member(&signal, "StateChanged") ||
            !(reader(signal) >> state >> error).ok()) {
            return kDNSServiceErr_NoError;
        }
        if (state == avahi::kEstablished) {
            op.push(reply(kDNSServiceFlagsAdd, kDNSServiceErr_NoError));
        }
        return state == avahi::kCollision ? kDNSServiceErr_NameConflict
               : state == avahi::kFailure ? kDNSServiceErr_Unknown
                                          : kDNSServiceErr_NoError;
    };
    object.on_error = [reply](DNSServiceErrorType error, operation& op) {
        op.push(reply(0, error));
    };
    return object;
}

} // namespace
} // namespace kvdns_sd

DNSServiceErrorType DNSServiceRegister(DNSServiceRef* sdRef, DNSServiceFlags,
                                       std::uint32_t interfaceIndex, const char* name,
                                       const char* regtype, const char* domain, const char* host,
                                       std::uint16_t port, std::uint16_t txtLen,
                                       const void* txtRecord, DNSServiceRegisterReply callBack,
                                       void* context) {
    kvdns_sd::registration entry;
    if (name == nullptr || *name == '\0' || regtype == nullptr || callBack == nullptr ||
        (txtLen > 0 && txtRecord == nullptr) ||
        !kvdns_sd::split_txt(static_cast<const unsigned char*>(txtRecord), txtLen, entry.txt)) {
        return kDNSServiceErr_BadParam;
    }
    // avahi-daemon refuses empty strings, which say nothing.
    entry.txt.erase(std::remove(entry.txt.begin(), entry.txt.end(), std::string()),
                    entry.txt.end());
    entry.interface = kvdns_sd::avahi::interface_of(interfaceIndex);
    entry.name = name;
    kvdns_sd::registration_types(regtype, entry.type, entry.subtypes);
    entry.domain = domain != nullptr ? kvdns_sd::without_trailing_dot(domain) : "";
    entry.host = host != nullptr ? kvdns_sd::without_trailing_dot(host) : "";
    entry.port = ntohs(port);
    return kvdns_sd::start_operation(sdRef, kvdns_sd::entry_group(entry, callBack, context));
}
