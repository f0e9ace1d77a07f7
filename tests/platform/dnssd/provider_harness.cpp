#include "provider_harness.h"

#include <dbus/dbus.h>
#include <dirent.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>

namespace provider_test {
namespace {

using clock_type = std::chrono::steady_clock;

// A blocking call to the bus driver; null when it fails.
DBusMessage* ask_bus(DBusConnection* connection, const char* member, const char* argument) {
    DBusMessage* call = dbus_message_new_method_call(DBUS_SERVICE_DBUS, DBUS_PATH_DBUS,
                                                     DBUS_INTERFACE_DBUS, member);
    if (argument != nullptr) {
        dbus_message_append_args(call, DBUS_TYPE_STRING, &argument, DBUS_TYPE_INVALID);
    }
    DBusMessage* reply = dbus_connection_send_with_reply_and_block(connection, call, 5000, nullptr);
    dbus_message_unref(call);
    return reply;
}

std::string text(const char* value) {
    return value != nullptr ? value : "";
}

} // namespace

std::size_t browse_events::added() const {
    return static_cast<std::size_t>(
        std::count_if(events.begin(), events.end(), [](const browse_event& e) { return e.added; }));
}

void on_browsed(DNSServiceRef ref, DNSServiceFlags flags, std::uint32_t interfaceIndex,
                DNSServiceErrorType error, const char* name, const char* type, const char* domain,
                void* context) {
    auto* seen = static_cast<browse_events*>(context);
    seen->error = error;
    seen->events.push_back({(flags & kDNSServiceFlagsAdd) != 0, interfaceIndex, text(name),
                            text(type), text(domain), flags});
    if (seen->deallocate_at_once) {
        DNSServiceRefDeallocate(ref);
    }
}

void on_registered(DNSServiceRef, DNSServiceFlags, DNSServiceErrorType error, const char* name,
                   const char*, const char*, void* context) {
    auto* result = static_cast<registration*>(context);
    ++result->calls;
    result->error = error;
    result->name = text(name);
}

bool pump(const std::vector<DNSServiceRef>& refs, const std::function<bool()>& done) {
    const auto deadline = clock_type::now() + kDeadline;
    while (!done() && clock_type::now() < deadline) {
        std::vector<pollfd> fds;
        for (DNSServiceRef ref : refs) {
            fds.push_back({DNSServiceRefSockFD(ref), POLLIN, 0});
        }
        if (::poll(fds.data(), fds.size(), 100) <= 0) {
            continue;
        }
        for (std::size_t i = 0; i < refs.size(); ++i) {
            if ((fds[i].revents & POLLIN) != 0) {
                DNSServiceProcessResult(refs[i]);
            }
        }
    }
    return done();
}

bool wait_readable(DNSServiceRef ref) {
    pollfd fd{DNSServiceRefSockFD(ref), POLLIN, 0};
    return ::poll(&fd, 1, static_cast<int>(std::chrono::milliseconds(kDeadline).count())) == 1;
}

int connections_of_this_process(const std::string& bus_address) {
    DBusConnection* connection = dbus_connection_open_private(bus_address.c_str(), nullptr);
    if (connection == nullptr) {
        return -1;
    }
    int count = -1;
    if (dbus_bus_register(connection, nullptr)) {
        const std::string asking = dbus_bus_get_unique_name(connection);
        if (DBusMessage* names = ask_bus(connection, "ListNames", nullptr)) {
            char** listed = nullptr;
            int listed_count = 0;
            dbus_message_get_args(names, nullptr, DBUS_TYPE_ARRAY, DBUS_TYPE_STRING, &listed,
                                  &listed_count, DBUS_TYPE_INVALID);
            count = 0;
            for (int i = 0; i < listed_count; ++i) {
                if (listed[i][0] != ':' || asking == listed[i]) {
                    continue;
                }
                DBusMessage* owner = ask_bus(connection, "GetConnectionUnixProcessID", listed[i]);
                dbus_uint32_t pid = 0;
                if (owner != nullptr &&
                    dbus_message_get_args(owner, nullptr, DBUS_TYPE_UINT32, &pid,
                                          DBUS_TYPE_INVALID) &&
                    pid == static_cast<dbus_uint32_t>(::getpid())) {
                    ++count;
                }
                if (owner != nullptr) {
                    dbus_message_unref(owner);
                }
            }
            dbus_free_string_array(listed);
            dbus_message_unref(names);
        }
    }
    dbus_connection_close(connection);
    dbus_connection_unref(connection);
    return count;
}

int open_eventfds() {
    int count = 0;
    DIR* fds = ::opendir("/proc/self/fd");
    while (dirent* entry = ::readdir(fds)) {
        char target[64] = "";
        const std::string path = std::string("/proc/self/fd/") + entry->d_name;
        const ssize_t length = ::readlink(path.c_str(), target, sizeof(target) - 1);
        if (length > 0 &&
            std::string(target, static_cast<std::size_t>(length)) == "anon_inode:[eventfd]") {
            ++count;
        }
    }
    ::closedir(fds);
    return count;
}

std::string txt_record(const std::vector<std::string>& strings) {
    std::string record;
    for (const auto& text : strings) {
        record += static_cast<char>(text.size());
        record += text;
    }
    return record;
}

std::vector<std::string> txt_strings(const unsigned char* data, std::size_t length) {
    std::vector<std::string> strings;
    std::size_t position = 0;
    while (position < length) {
        const std::size_t size = data[position++];
        strings.emplace_back(reinterpret_cast<const char*>(data + position),
                             std::min(size, length - position));
        position += size;
    }
    return strings;
}

} // namespace provider_test
