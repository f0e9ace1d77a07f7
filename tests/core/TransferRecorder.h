#pragma once

#include "RecordingListener.h"

#include <string>

namespace kv::test {

// Records, beside the core's other events, the update progress the devices report, and each
// product's first download report and first bytes.
class TransferRecorder : public RecordingListener {
public:
    void updateProgress(kv::portal::Core*, const char* productName, int state, const char* text,
                        int percent) override {
        record(std::string("progress ") + productName + " " + std::to_string(state) + " " +
               std::to_string(percent) + " " + (text ? text : "(no text)"));
    }

    void downloadProgress(kv::portal::Core*, const char* productName, const char* fileName,
                          const float& fraction) override {
        once(std::string("downloading ") + productName + " " + fileName);
        if (fraction > 0 && fraction <= 1) {
            once(std::string("received ") + productName);
        }
    }

private:
    // Only the download worker reports downloads: no other thread records these in between.
    void once(const std::string& event) {
        if (count(event) == 0) {
            record(event);
        }
    }
};

} // namespace kv::test
