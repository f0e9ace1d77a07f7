#include "avahi.h"

namespace kvdns_sd::avahi {

std::int32_t interface_of(std::uint32_t interface_index) {
    return interface_index == 0 ? -1 : static_cast<std::int32_t>(interface_index);
}

message_ptr server_call(const char* member) {
    return object_call("/", kServer, member);
}

message_ptr object_call(const std::string& path, const char* interface, const char* member) {
    return message_ptr(dbus_message_new_method_call(kService, path.c_str(), interface, member));
}

std::vector<message_ptr> start(const std::string& path, const char* interface) {
    std::vector<message_ptr> calls;
    calls.push_back(object_call(path, interface, "Start"));
    return calls;
}

} // namespace kvdns_sd::avahi
