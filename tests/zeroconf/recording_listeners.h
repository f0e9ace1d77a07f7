#pragma once

#include "browser_listener.h"
#include "hostname_listener.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace zeroconf_test {

constexpr auto kDeadline = std::chrono::seconds(20);

// What a discovery object reported, in order, for tests to wait on. Notifies under the lock: a
// waiter that wakes may destroy the recorder at once.
template <typename Event>
class recorder {
public:
    void add(Event event) {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.push_back(std::move(event));
        changed_.notify_all();
    }

    bool wait_until(const std::function<bool(const std::vector<Event>&)>& done) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, kDeadline, [&] { return done(events_); });
    }

    bool wait(std::size_t count) {
        return wait_until([count](const auto& events) { return events.size() >= count; });
    }

    std::vector<Event> events() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return events_;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Event> events_;
};

// An instance resolved, or removed (with only its interface, name and type).
struct instance {
    bool resolved = false;
    std::uint32_t interface_index = 0;
    std::string name, regtype, host, address;
    std::uint16_t port = 0;
    std::vector<std::string> txt;
};

inline std::vector<instance> only(std::vector<instance> events, bool resolved) {
    events.erase(std::remove_if(events.begin(), events.end(),
                                [resolved](const instance& e) { return e.resolved != resolved; }),
                 events.end());
    return events;
}

// Records both kinds of discovery: instances, and host names (in name, with their address).
class recording_listener : public zeroconf::browser_listener,
                           public zeroconf::hostname_listener,
                           public recorder<instance> {
public:
    void on_service_resolved(std::uint32_t interface_index, const std::string& name,
                             const std::string& regtype, const std::string& host,
                             const std::string& address, std::uint16_t port,
                             const std::vector<std::string>& txt) override {
        record({true, interface_index, name, regtype, host, address, port, txt});
    }
    void on_service_removed(std::uint32_t interface_index, const std::string& name,
                            const std::string& regtype) override {
        record({false, interface_index, name, regtype, {}, {}, 0, {}});
    }
    void on_hostname_resolved(std::uint32_t interface_index, const std::string& hostname,
                              const std::string& address) override {
        record({true, interface_index, hostname, {}, {}, address, 0, {}});
    }
    void on_hostname_removed(std::uint32_t interface_index, const std::string& hostname) override {
        record({false, interface_index, hostname, {}, {}, {}, 0, {}});
    }

    std::vector<instance> resolved() const { return only(events(), true); }
    std::vector<instance> removed() const { return only(events(), false); }
    bool wait_resolved(std::size_t count) { return wait_for(true, count); }
    bool wait_removed(std::size_t count) { return wait_for(false, count); }

    // Runs on the poll thread after each event is recorded.
    std::function<void()> on_event;

private:
    void record(instance event) {
        add(std::move(event));
        if (on_event) {
            on_event();
        }
    }
    bool wait_for(bool resolved, std::size_t count) {
        return wait_until(
            [&](const auto& events) { return only(events, resolved).size() >= count; });
    }
};

// The states a registered service reports. It must outlive the service's client.
class state_recorder : public recorder<int> {
public:
    std::function<void(int)> callback() {
        return [this](int state) { add(state); };
    }
};

} // namespace zeroconf_test
