#pragma once

#include "event_fd.h"
#include "message.h"

#include <dns_sd.h>

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace kvdns_sd {

class operation;

// What avahi-daemon is asked to do for one operation. Its functions run on the dispatch thread,
// except on_error for a creation that meets a connection already lost.
struct daemon_object {
    // The object's interface, for its signals and its Free method.
    const char* interface = nullptr;
    // The server call that creates the object and answers its path.
    message_ptr create;
    // The calls on the new object that set it going.
    std::function<std::vector<message_ptr>(const std::string& path)> start;
    // Turns one of the object's signals into the operation's results. An error ends the object
    // and goes to on_error.
    std::function<DNSServiceErrorType(DBusMessage& signal, operation& op)> on_signal;
    // Queues the operation's error result. Called at most once; the object is gone by then.
    std::function<void(DNSServiceErrorType error, operation& op)> on_error;
};

// The process's one connection to avahi-daemon, over the system bus, and the one thread that
// serves it: after opening, every D-Bus call is made on that thread. Callers hand it work that
// runs there and never wait for it.
class avahi_bus {
public:
    // The open bus, connecting on first use and after a lost connection. Null, with
    // kDNSServiceErr_ServiceNotRunning, when the bus cannot be reached or avahi-daemon is not on
    // it.
    static std::shared_ptr<avahi_bus> get(DNSServiceErrorType& error);

    explicit avahi_bus(DBusConnection* connection, bool daemon_present);
    ~avahi_bus();
    avahi_bus(const avahi_bus&) = delete;
    avahi_bus& operator=(const avahi_bus&) = delete;

    // Has the daemon create the operation's object and routes the object's signals to it.
    void create(std::shared_ptr<operation> op, daemon_object object);
    // Frees the operation's object, whether it exists yet or not.
    void release(std::shared_ptr<operation> op);

private:
    using task = std::function<void()>;
    // Gets the reply, or null and the error.
    using reply_handler = std::function<void(DBusMessage* reply, DNSServiceErrorType error)>;
    struct live_object {
        std::shared_ptr<operation> op;
        std::shared_ptr<daemon_object> object;
    };

    // Caller side.
    bool post(task work);
    bool dead();

    // Dispatch thread.
    void run();
    void run_tasks();
    void begin(const std::shared_ptr<operation>& op, const std::shared_ptr<daemon_object>& object);
    void on_created(const std::shared_ptr<operation>& op,
                    const std::shared_ptr<daemon_object>& object, const std::string& path);
    void end(const operation& op, DNSServiceErrorType error);
    // Sends the call once fewer than the bus's limit of calls await their replies.
    void call(message_ptr message, reply_handler on_reply);
    void send_waiting();
    void send(message_ptr message);
    DBusHandlerResult route(DBusMessage& message);
    void daemon_changed(DBusMessage& signal);
    void lose_objects();
    void lose_connection();
    static DBusHandlerResult filter(DBusConnection*, DBusMessage* message, void* bus);

    event_fd wake_;
    std::atomic<bool> daemon_present_;

    std::mutex inbox_mutex_;
    // Guarded by inbox_mutex_: work for the dispatch thread, and whether it has stopped taking
    // any because the connection is lost.
    std::vector<task> inbox_;
    bool dead_ = false;

    // Dispatch thread only.
    DBusConnection* const connection_;
    bool connected_ = true;
    std::deque<std::pair<message_ptr, reply_handler>> waiting_;
    std::unordered_map<dbus_uint32_t, reply_handler> pending_;
    std::unordered_map<std::string, live_object> objects_;
    std::unordered_map<const operation*, std::string> paths_;
};

} // namespace kvdns_sd
