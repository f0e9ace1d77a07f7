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
    void updateProgress(kv::portal::Core*, const char* productName, int state, const char* text,
                        int percent) override {
        record(std::string("progress ") + productName + " " + std::to_string(state) + " " +
               std::to_string(percent) + " " + (text ? text : "(no text)"));
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
    }

    int downloadReports() const {
        std::lock_guard<std::mutex> lock(progressMutex_);
        return downloadReports_;
    }

private:
    mutable std::mutex progressMutex_;
    std::set<std::string> seen_;
    int downloadReports_ = 0;
};

} // namespace kv::test
