#pragma once

#include "core/Core.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace kv::test {

// Writes down every core event as a line of text, and lets a test wait for one.
class RecordingListener : public kv::portal::Core::Listener {
public:
    using Events = std::vector<std::string>;
    using Seconds = std::chrono::seconds;

    void productAdded(kv::portal::Core*, kv::portal::ProductPtr product) override {
        record("added " + product->name);
    }
    void productRemoved(kv::portal::Core*, kv::portal::ProductPtr product) override {
        record("removed " + product->name);
    }
    void productProbed(kv::portal::Core*, kv::portal::ProductPtr product) override {
        record("probed " + product->name);
    }
    void syncStarted(kv::portal::Core*) override { record("syncStarted"); }
    void syncFinished(kv::portal::Core*, const std::string& message) override {
        record("syncFinished " + message);
    }
    void statusChanged(kv::portal::Core* core, const char* productName) override {
        const kv::portal::ProductPtr product = core->findProduct(productName);
        record(std::string("status ") + productName + " " +
               (product ? product->statusText() : "?"));
    }

    Events events() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return events_;
    }
    int count(const std::string& event) const { return countIn(events(), event); }
    // The recorded events that start with `prefix`, in order.
    Events startingWith(const std::string& prefix) const {
        Events found = events();
        found.erase(std::remove_if(found.begin(), found.end(),
                                   [&](const std::string& e) { return e.rfind(prefix, 0) != 0; }),
                    found.end());
        return found;
    }

    bool waitFor(const std::string& event, Seconds timeout = Seconds(30)) {
        return waitForCount(event, 1, timeout);
    }
    bool waitForCount(const std::string& event, int times, Seconds timeout = Seconds(60)) {
        return waitUntil([&](const Events& seen) { return countIn(seen, event) >= times; },
                         timeout);
    }
    // Waits until the events recorded so far satisfy `done`.
    bool waitUntil(const std::function<bool(const Events&)>& done, Seconds timeout) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return done(events_); });
    }

    void clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.clear();
    }

protected:
    void record(const std::string& event) {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.push_back(event);
        changed_.notify_all();
    }

private:
    static int countIn(const Events& seen, const std::string& event) {
        return static_cast<int>(std::count(seen.begin(), seen.end(), event));
    }

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    Events events_;
};

} // namespace kv::test
