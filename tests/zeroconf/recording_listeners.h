#pragma once

#include "browser_listener.h"
#include "hostname_listener.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
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

inline std::vector<std::string> only(std::vector<std::string> events, char kind) {
    events.erase(std::remove_if(events.begin(), events.end(),
                                [kind](const std::string& e) { return e[0] != kind; }),
                 events.end());
    return events;
}

// Instances and host names as text: "+" and what a resolve told (TXT entries sorted), or "-"
// and what a removal told; the interface comes first.
class recording_listener : public zeroconf::browser_listener,
                           public zeroconf::hostname_listener,
                           public recorder<std::string> {
public:
    void on_service_resolved(std::uint32_t interface_index, const std::string& name,
                             const std::string& regtype, const std::string& host,
                             const std::string& address, std::uint16_t port,
                             const std::vector<std::string>& txt) override {
        std::string line = "+" + std::to_string(interface_index) + " " + name + " " + regtype +
                           " " + host + " " + address + " " + std::to_string(port);
        auto sorted = txt;
        std::sort(sorted.begin(), sorted.end());
        for (const auto& entry : sorted) {
            line += " " + entry;
        }
        record(line);
    }
    void on_service_removed(std::uint32_t interface_index, const std::string& name,
                            const std::string& regtype) override {
        record("-" + std::to_string(interface_index) + " " + name + " " + regtype);
    }
    void on_hostname_resolved(std::uint32_t interface_index, const std::string& hostname,
                              const std::string& address) override {
        record("+" + std::to_string(interface_index) + " " + hostname + " " + address);
    }
    void on_hostname_removed(std::uint32_t interface_index, const std::string& hostname) override {
        record("-" + std::to_string(interface_index) + " " + hostname);
    }

    std::vector<std::string> resolved() const { return only(events(), '+'); }
    std::vector<std::string> removed() const { return only(events(), '-'); }
    bool wait_resolved(std::size_t count) { return wait_for('+', count); }
    bool wait_removed(std::size_t count) { return wait_for('-', count); }

    // Runs on the poll thread after each event is recorded.
    std::function<void()> on_event;

private:
    void record(std::string event) {
        add(std::move(event));
        if (on_event) {
            on_event();
        }
    }
    bool wait_for(char kind, std::size_t count) {
        return wait_until([&](const auto& events) { return only(events, kind).size() >= count; });
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
