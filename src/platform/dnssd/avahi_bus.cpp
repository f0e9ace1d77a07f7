#include "avahi_bus.h"

#include "avahi.h"
#include "dns_sd_additions.h"
#include "operation.h"

#include <poll.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace kvdns_sd {
namespace {

using dns_sd::kDNSServiceErr_ServiceNotRunning;

// The system bus refuses calls beyond 128 awaiting their replies on one connection.
constexpr std::size_t kMaxPendingCalls = 120;

constexpr const char* kSystemBus = "unix:path=/var/run/dbus/system_bus_socket";
constexpr const char* kAvahiSignals = "type='signal',sender='org.freedesktop.Avahi'";
constexpr const char* kAvahiOwner =
    "type='signal',sender='org.freedesktop.DBus',interface='org.freedesktop.DBus',"
    "member='NameOwnerChanged',arg0='org.freedesktop.Avahi'";

struct process_bus {
    std::mutex mutex;
    // Guarded by mutex.
    std::shared_ptr<avahi_bus> current;
};

// Never destroyed: the dispatch thread may still run while the process exits.
process_bus& the_process_bus() {
    static auto* bus = new process_bus();
    return *bus;
}

// Read on every connection, not once per process, so that the bus may come and go.
std::string system_bus_address() {
    const char* configured = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
    return configured != nullptr && *configured != '\0' ? configured : kSystemBus;
}

// Connects and subscribes to avahi-daemon's signals; the only calls that wait for the bus.
DBusConnection* connect(bool& daemon_present) {
    DBusError error;
    dbus_error_init(&error);
    DBusConnection* connection = dbus_connection_open_private(system_bus_address().c_str(), &error);
    if (connection != nullptr && !dbus_bus_register(connection, &error)) {
        dbus_connection_close(connection);
        dbus_connection_unref(connection);
        connection = nullptr;
    }
    if (connection != nullptr) {
        dbus_connection_set_exit_on_disconnect(connection, FALSE);
        // Without an error to fill these are sent, not waited for.
        dbus_bus_add_match(connection, kAvahiSignals, nullptr);
        dbus_bus_add_match(connection, kAvahiOwner, nullptr);
        daemon_present = dbus_bus_name_has_owner(connection, avahi::kService, &error);
    }
    dbus_error_free(&error);
    return connection;
}

DNSServiceErrorType error_of(const char* name) {
    const std::string error = name != nullptr ? name : "";
    if (error == "org.freedesktop.Avahi.CollisionError") {
        return kDNSServiceErr_NameConflict;
    }
    if (error.rfind("org.freedesktop.Avahi.Invalid", 0) == 0) {
        return kDNSServiceErr_BadParam;
    }
    if (error == DBUS_ERROR_SERVICE_UNKNOWN || error == DBUS_ERROR_NAME_HAS_NO_OWNER ||
        error == DBUS_ERROR_NO_REPLY || error == DBUS_ERROR_DISCONNECTED) {
        return kDNSServiceErr_ServiceNotRunning;
    }
    return kDNSServiceErr_Unknown;
}

} // namespace

std::shared_ptr<avahi_bus> avahi_bus::get(DNSServiceErrorType& error) {
    process_bus& process = the_process_bus();
    std::lock_guard<std::mutex> lock(process.mutex);
    if (process.current == nullptr || process.current->dead()) {
        process.current.reset();
        bool daemon_present = false;
        DBusConnection* connection = connect(daemon_present);
        if (connection == nullptr) {
            error = kDNSServiceErr_ServiceNotRunning;
            return nullptr;
        }
        auto bus = std::make_shared<avahi_bus>(connection, daemon_present);
        std::thread([bus] { bus->run(); }).detach();
        process.current = std::move(bus);
    }
    if (!process.current->daemon_present_) {
        error = kDNSServiceErr_ServiceNotRunning;
        return nullptr;
    }
    return process.current;
}

avahi_bus::avahi_bus(DBusConnection* connection, bool daemon_present)
    : daemon_present_(daemon_present), connection_(connection) {
    dbus_connection_add_filter(connection_, filter, this, nullptr);
}

avahi_bus::~avahi_bus() {
    dbus_connection_close(connection_);
    dbus_connection_unref(connection_);
}

void avahi_bus::create(std::shared_ptr<operation> op, daemon_object object) {
    auto shared = std::make_shared<daemon_object>(std::move(object));
    if (!post([this, op, shared] { begin(op, shared); })) {
        shared->on_error(kDNSServiceErr_ServiceNotRunning, *op);
    }
}

void avahi_bus::release(std::shared_ptr<operation> op) {
    post([this, op] { end(*op, kDNSServiceErr_NoError); });
}

bool avahi_bus::post(task work) {
    {
        std::lock_guard<std::mutex> lock(inbox_mutex_);
        if (dead_) {
            return false;
        }
        inbox_.push_back(std::move(work));
    }
    wake_.signal();
    return true;
}

bool avahi_bus::dead() {
    std::lock_guard<std::mutex> lock(inbox_mutex_);
    return dead_;
}

void avahi_bus::run() {
    int bus_fd = -1;
    dbus_connection_get_unix_fd(connection_, &bus_fd);
    while (dbus_connection_get_is_connected(connection_)) {
        pollfd fds[] = {{bus_fd, POLLIN, 0}, {wake_.fd(), POLLIN, 0}};
        if (dbus_connection_has_messages_to_send(connection_)) {
            fds[0].events |= POLLOUT;
        }
        if (::poll(fds, 2, -1) < 0 && errno != EINTR) {
            break;
        }
        if ((fds[1].revents & POLLIN) != 0) {
            wake_.clear();
            run_tasks();
        }
        dbus_connection_read_write(connection_, 0);
        while (dbus_connection_dispatch(connection_) == DBUS_DISPATCH_DATA_REMAINS) {
        }
    }
    lose_connection();
}

void avahi_bus::run_tasks() {
    std::vector<task> work;
    {
        std::lock_guard<std::mutex> lock(inbox_mutex_);
        work.swap(inbox_);
    }
    for (const auto& next : work) {
        next();
    }
}

void avahi_bus::begin(const std::shared_ptr<operation>& op,
                      const std::shared_ptr<daemon_object>& object) {
    if (op->cancelled()) {
        return;
    }
    call(std::move(object->create),
         [this, op, object](DBusMessage* reply, DNSServiceErrorType error) {
             std::string path;
             if (reply != nullptr && !(reader(*reply) >> path).ok()) {
                 error = kDNSServiceErr_Unknown;
             }
             if (error != kDNSServiceErr_NoError) {
                 object->on_error(error, *op);
                 return;
             }
             on_created(op, object, path);
         });
}

void avahi_bus::on_created(const std::shared_ptr<operation>& op,
                           const std::shared_ptr<daemon_object>& object, const std::string& path) {
    if (op->cancelled()) {
        send(avahi::object_call(path, object->interface, "Free"));
        return;
    }
    objects_[path] = {op, object};
    paths_[op.get()] = path;
    for (auto& message : object->start(path)) {
        call(std::move(message), [this, op](DBusMessage*, DNSServiceErrorType error) {
            if (error != kDNSServiceErr_NoError) {
                end(*op, error);
            }
        });
    }
}

void avahi_bus::end(const operation& op, DNSServiceErrorType error) {
    const auto found = paths_.find(&op);
    if (found == paths_.end()) {
        return;
    }
    const std::string path = found->second;
    paths_.erase(found);
    const auto object = objects_.find(path);
    const live_object ended = std::move(object->second);
    objects_.erase(object);
    send(avahi::object_call(path, ended.object->interface, "Free"));
    if (error != kDNSServiceErr_NoError) {
        ended.object->on_error(error, *ended.op);
    }
}

void avahi_bus::call(message_ptr message, reply_handler on_reply) {
    if (!connected_) {
        on_reply(nullptr, kDNSServiceErr_ServiceNotRunning);
        return;
    }
    waiting_.emplace_back(std::move(message), std::move(on_reply));
    send_waiting();
}

void avahi_bus::send_waiting() {
    while (!waiting_.empty() && pending_.size() < kMaxPendingCalls) {
        auto [message, on_reply] = std::move(waiting_.front());
        waiting_.pop_front();
        dbus_uint32_t serial = 0;
        if (message == nullptr || !dbus_connection_send(connection_, message.get(), &serial)) {
            on_reply(nullptr, kDNSServiceErr_NoMemory);
        } else {
            pending_.emplace(serial, std::move(on_reply));
        }
    }
}

void avahi_bus::send(message_ptr message) {
    if (connected_ && message != nullptr) {
        dbus_message_set_no_reply(message.get(), TRUE);
        dbus_connection_send(connection_, message.get(), nullptr);
    }
}

DBusHandlerResult avahi_bus::route(DBusMessage& message) {
    const int type = dbus_message_get_type(&message);
    if (type == DBUS_MESSAGE_TYPE_METHOD_RETURN || type == DBUS_MESSAGE_TYPE_ERROR) {
        const auto found = pending_.find(dbus_message_get_reply_serial(&message));
        if (found == pending_.end()) {
            return DBUS_HANDLER_RESULT_NOT_YET_HANDLED;
        }
        const reply_handler on_reply = std::move(found->second);
        pending_.erase(found);
        if (type == DBUS_MESSAGE_TYPE_ERROR) {
            on_reply(nullptr, error_of(dbus_message_get_error_name(&message)));
        } else {
            on_reply(&message, kDNSServiceErr_NoError);
        }
        send_waiting();
        return DBUS_HANDLER_RESULT_HANDLED;
    }
    if (type != DBUS_MESSAGE_TYPE_SIGNAL) {
        return DBUS_HANDLER_RESULT_NOT_YET_HANDLED;
    }
    if (dbus_message_is_signal(&message, DBUS_INTERFACE_DBUS, "NameOwnerChanged")) {
        daemon_changed(message);
        return DBUS_HANDLER_RESULT_HANDLED;
    }
    const char* path = dbus_message_get_path(&message);
    const auto found = path != nullptr ? objects_.find(path) : objects_.end();
    if (found == objects_.end() ||
        !dbus_message_has_interface(&message, found->second.object->interface)) {
        return DBUS_HANDLER_RESULT_NOT_YET_HANDLED;
    }
    // A copy: the signal may end the object.
    const live_object target = found->second;
    const DNSServiceErrorType error = target.object->on_signal(message, *target.op);
    if (error != kDNSServiceErr_NoError) {
        end(*target.op, error);
    }
    return DBUS_HANDLER_RESULT_HANDLED;
}

void avahi_bus::daemon_changed(DBusMessage& signal) {
    std::string name;
    std::string old_owner;
    std::string new_owner;
    if (!(reader(signal) >> name >> old_owner >> new_owner).ok() || name != avahi::kService) {
        return;
    }
    daemon_present_ = !new_owner.empty();
    if (!old_owner.empty()) {
        // The objects went with the daemon that held them.
        lose_objects();
    }
}

void avahi_bus::lose_objects() {
    const auto lost = std::move(objects_);
    objects_.clear();
    paths_.clear();
    for (const auto& entry : lost) {
        entry.second.object->on_error(kDNSServiceErr_ServiceNotRunning, *entry.second.op);
    }
}

void avahi_bus::lose_connection() {
    connected_ = false;
    daemon_present_ = false;
    std::vector<task> left;
    {
        std::lock_guard<std::mutex> lock(inbox_mutex_);
        dead_ = true;
        left.swap(inbox_);
    }
    // With the connection gone, creations fail at once.
    for (const auto& next : left) {
        next();
    }
    lose_objects();
    const auto unanswered = std::move(pending_);
    pending_.clear();
    for (const auto& entry : unanswered) {
        entry.second(nullptr, kDNSServiceErr_ServiceNotRunning);
    }
    const auto unsent = std::move(waiting_);
    waiting_.clear();
    for (const auto& entry : unsent) {
        entry.second(nullptr, kDNSServiceErr_ServiceNotRunning);
    }
}

DBusHandlerResult avahi_bus::filter(DBusConnection*, DBusMessage* message, void* bus) {
    return static_cast<avahi_bus*>(bus)->route(*message);
}

} // namespace kvdns_sd
