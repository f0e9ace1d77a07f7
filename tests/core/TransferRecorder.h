#pragma once

#include "RecordingListener.h"

#include <cmath>
#include <set>
#include <string>

namespace kv::test {

// Records, beside the core's other events, the update progress the devices report and the
// first download progress of each product and its first bytes; counts every download progress
// report.
class TransferRecorder : public RecordingListener {
public:
    void statusChanged(kv::portal::Core* core, const char* productName) override {
        RecordingListener::statusChanged(core, productName);
        announce();
    }

    void updateProgress(kv::portal::Core*, const char* productName, int state, const char* text,
                        int percent) override {
        record(std::string("progress ") + productName + " " + std::to_string(state) + " " +
               std::to_string(percent) + " " + (text ? text : "(no text)"));
        announce();
    }

    void downloadProgress(kv::portal::Core*, const char* productName, const char* fileName,
                          const float& fraction) override {
        const std::string started = std::string("downloading ") + productName + " " + fileName;
        const std::string received = std::string("received ") + productName;
        bool first = false;
        bool firstBytes = false;
        {
            std::lock_guard<std::mutex> lock(progressMutex_);
            ++downloadReports_;
            first = seen_.insert(started).second;
            firstBytes = fraction > 0 && std::isfinite(fraction) && seen_.insert(received).second;
        }
        if (first) {
            record(started);
        }
        if (firstBytes) {
            record(received);
        }
        announce();
    }

    int downloadReports() const {
        std::lock_guard<std::mutex> lock(progressMutex_);
        return downloadReports_;
    }

    // How many recorded events equal `event`.
    int count(const std::string& event) const {
        int n = 0;
        for (const std::string& seen : events()) {
            n += seen == event;
        }
        return n;
    }

    // The recorded events that start with `prefix`, in order.
    std::vector<std::string> startingWith(const std::string& prefix) const {
        std::vector<std::string> found;
        for (const std::string& seen : events()) {
            if (seen.rfind(prefix, 0) == 0) {
                found.push_back(seen);
            }
        }
        return found;
    }

    // Waits until an event starting with `prefix` was recorded.
    bool waitForStart(const std::string& prefix,
                      std::chrono::seconds timeout = std::chrono::seconds(60)) {
        std::unique_lock<std::mutex> lock(announceMutex_);
        return announced_.wait_for(lock, timeout, [&] { return !startingWith(prefix).empty(); });
    }

    // Waits until `event` was recorded `times` times.
    bool waitForCount(const std::string& event, int times,
                      std::chrono::seconds timeout = std::chrono::seconds(60)) {
        std::unique_lock<std::mutex> lock(announceMutex_);
        return announced_.wait_for(lock, timeout, [&] { return count(event) >= times; });
    }

private:
    void announce() {
        std::lock_guard<std::mutex> lock(announceMutex_);
        announced_.notify_all();
    }

    std::mutex announceMutex_;
    std::condition_variable announced_;
    mutable std::mutex progressMutex_;
    std::set<std::string> seen_;
    int downloadReports_ = 0;
};

} // namespace kv::test
