#pragma once

#include "browser_listener.h"
#include "hostname_listener.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace zeroconf_test {

constexpr auto kDeadline = std::chrono::seconds(20);

struct resolved_instance {
    std::uint32_t interface_index = 0;
    std::string name;
    std::string regtype;
    std::string host;
    std::string address;
    std::uint16_t port = 0;
    std::vector<std::string> txt;
};

struct removed_instance {
    std::uint32_t interface_index = 0;
    std::string name;
    std::string regtype;
};

// Records what a browser reports; tests wait for it without sleeping.
class recording_browser_listener : public zeroconf::browser_listener {
public:
    void on_service_resolved(std::uint32_t interface_index, const std::string& name,
                             const std::string& regtype, const std::string& host,
                             const std::string& address, std::uint16_t port,
                             const std::vector<std::string>& txt) override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            resolved_.push_back({interface_index, name, regtype, host, address, port, txt});
        }
        changed_.notify_all();
        if (on_event) {
            on_event();
        }
    }

    void on_service_removed(std::uint32_t interface_index, const std::string& name,
                            const std::string& regtype) override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            removed_.push_back({interface_index, name, regtype});
        }
        changed_.notify_all();
        if (on_event) {
            on_event();
        }
    }

    bool wait_resolved(std::size_t count) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, kDeadline, [&] { return resolved_.size() >= count; });
    }

    bool wait_removed(std::size_t count) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, kDeadline, [&] { return removed_.size() >= count; });
    }

    // Waits until the predicate holds for the instances resolved so far.
    bool wait_until(const std::function<bool(const std::vector<resolved_instance>&,
                                             const std::vector<removed_instance>&)>& predicate) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, kDeadline, [&] { return predicate(resolved_, removed_); });
    }

    std::vector<resolved_instance> resolved() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return resolved_;
    }

    std::vector<removed_instance> removed() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return removed_;
    }

    // Runs on the poll thread after each event is recorded.
    std::function<void()> on_event;

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<resolved_instance> resolved_;
    std::vector<removed_instance> removed_;
};

struct hostname_event {
    bool resolved = false;
    std::uint32_t interface_index = 0;
    std::string hostname;
    std::string address;
};

class recording_hostname_listener : public zeroconf::hostname_listener {
public:
    void on_hostname_resolved(std::uint32_t interface_index, const std::string& hostname,
                              const std::string& address) override {
        record({true, interface_index, hostname, address});
    }

    void on_hostname_removed(std::uint32_t interface_index, const std::string& hostname) override {
        record({false, interface_index, hostname, std::string()});
    }

    bool wait_events(std::size_t count) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, kDeadline, [&] { return events_.size() >= count; });
    }

    std::vector<hostname_event> events() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return events_;
    }

private:
    void record(hostname_event event) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            events_.push_back(std::move(event));
        }
        changed_.notify_all();
    }

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<hostname_event> events_;
};

} // namespace zeroconf_test
