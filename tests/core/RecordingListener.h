#pragma once

#include "core/Core.h"

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

    std::vector<std::string> events() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return events_;
    }

    bool waitFor(const std::string& event,
                 std::chrono::seconds timeout = std::chrono::seconds(30)) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] {
            for (const std::string& seen : events_) {
                if (seen == event) {
                    return true;
                }
            }
            return false;
        });
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
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> events_;
};

} // namespace kv::test
