#include "record_browser.h"

#include "avahi.h"

namespace kvdns_sd {

daemon_object record_browser(std::uint32_t interface_index, const std::string& name,
                             std::uint16_t rrclass, std::uint16_t rrtype,
                             std::function<operation::result(const record_event&)> on_record,
                             std::function<operation::result(DNSServiceErrorType)> on_error) {
    daemon_object object;
    object.interface = avahi::kRecordBrowser;
    object.create = avahi::server_call("RecordBrowserPrepare");
    writer(*object.create) << avahi::interface_of(interface_index) << avahi::kProtocolIPv4 << name
                           << rrclass << rrtype << std::uint32_t{0};
    object.start = [](const std::string& path) {
        return avahi::start(path, avahi::kRecordBrowser);
    };
    object.on_signal = [on_record](DBusMessage& signal, operation& op) -> DNSServiceErrorType {
        record_event event;
        event.added = dbus_message_has_member(&signal, "ItemNew");
        if (!event.added && !dbus_message_has_member(&signal, "ItemRemove")) {
            return dbus_message_has_member(&signal, "Failure") ? kDNSServiceErr_Unknown
                                                               : kDNSServiceErr_NoError;
        }
        std::int32_t interface = 0;
        std::int32_t protocol = 0;
        std::uint32_t flags = 0;
        if ((reader(signal) >> interface >> protocol >> event.name >> event.rrclass >>
             event.rrtype >> event.rdata >> flags)
                .ok()) {
            event.interface_index = static_cast<std::uint32_t>(interface);
            if (operation::result result = on_record(event)) {
                op.push(std::move(result));
            }
        }
        return kDNSServiceErr_NoError;
    };
    object.on_error = [on_error](DNSServiceErrorType error, operation& op) {
        op.push(on_error(error));
    };
    return object;
}

} // namespace kvdns_sd
