#include "core/update/FirmwareUploader.h"

#include "core/Core.h"
#include "core/ResultCodes.h"
#include "core/device/DeviceInterface.h"
#include "core/device/DeviceReply.h"
#include "core/device/DeviceWaits.h"
#include "core/json/JsonDocument.h"
#include "core/json/JsonValue.h"
#include "kvcurl/kvcurl.h"
#include "ru_rod.h"

#include <chrono>
#include <utility>

namespace kv::portal {

namespace {

constexpr int kPollTimeoutMs = 1000;
constexpr auto kPollPause = std::chrono::milliseconds(1000);
// How long a device that came back must go on knowing of no update before the upload is given
// up: one busy writing its flash may miss polls and then answer blank for a moment.
constexpr auto kRestartEvidence = std::chrono::seconds(5);

constexpr int kAttempts = 3;
// How long the upload waits for the device's answer once the device reported the end of its
// update: one that lost power meanwhile never sends it.
constexpr auto kAnswerAfterEnd = std::chrono::seconds(120);

enum UpdateState : int {
    Uploading = 1,
    Updating = 2,
    Failed = 3,
    Finished = 4,
    Resizing = 5,
};

int intMember(const rapidjson::Value& object, const char* name) {
    const rapidjson::Value& value = member(object, name);
    return value.IsInt() ? value.GetInt() : 0;
}

} // namespace

FirmwareUploader::FirmwareUploader(Core& core, std::function<void(const ProductPtr&)> rebooting)
    : core_(core), rebooting_(std::move(rebooting)) {}

bool FirmwareUploader::handleUpdateState(const ProductPtr& product, const rapidjson::Value& state) {
    const int value = intMember(state, "state");
    // A blank answer after progress does not undo it: the device did report.
    if (value != 0) {
        lastUpdateState_ = value;
    }
    switch (value) {
    case Failed:
        product->errorCode = result::kDeviceReportedFailure;
        core_.setStatus(product, FirmwareUpdateError);
        return true;
    case Finished:
        return true;
    case Uploading:
        core_.setStatus(product, FirmwareUploading);
        break;
    case Updating:
        core_.setStatus(product, FirmwareUpdating);
        break;
    case Resizing:
        core_.setStatus(product, ResizingPartitions);
        break;
    default:
        break;
    }
    const int percent = intMember(state, "percent");
    const rapidjson::Value& text = member(state, "text");
    const char* textOrNone = text.IsString() ? text.GetString() : nullptr;
    core_.notifyListeners([&](Core::Listener& listener) {
        listener.updateProgress(&core_, product->name.c_str(), value, textOrNone, percent);
    });
    return false;
}

void FirmwareUploader::confirmUpdateEnd(const ProductPtr& product) {
    const std::string address = product->address.get();
    JsonDocument document;
    const rapidjson::Value* state = nullptr;
    auto reply =
        kvcurl::get(address + "/API/get_device_status:$._firmware_update.state", kPollTimeoutMs);
    if (reply->code == 200) {
        parseJson(document, reply->body.c_str());
        if (const rapidjson::Value* data = successData(document)) {
            if (const rapidjson::Value* value = findMember(*data, "value");
                value && value->IsObject()) {
                state = value;
            }
        }
    }
    if (state == nullptr) {
        reply = kvcurl::get(address + ":8080/commands/get_fwupdate_state", kPollTimeoutMs);
        if (reply->code == 200) {
            parseJson(document, reply->body.c_str());
            state = successData(document);
        }
    }
    if (state == nullptr) {
        return;
    }
    const int value = intMember(*state, "state");
    if (value == Failed || value == Finished) {
        handleUpdateState(product, *state);
    }
}

void FirmwareUploader::poll(const ProductPtr& product) {
    const std::string address = product->address.get();
    // True once the upload has returned; otherwise waits out the pause and says false.
    const auto pauseUntilUploadFinished = [this] {
        std::unique_lock<std::mutex> lock(uploadFinishedMutex_);
        return uploadFinishedSignal_.wait_for(lock, kPollPause,
                                              [this] { return uploadFinished_.load(); });
    };
    // A device that reported this update, then answered neither service, and now goes on
    // answering with no update under way has restarted: its answer to the upload, whose
    // connection it forgot, never comes.
    bool reported = false;
    bool away = false;
    // When the device, back, first answered blank; none while it reports or is away.
    std::chrono::steady_clock::time_point blankSince;
    const auto handled = [&](const rapidjson::Value& state) {
        if (handleUpdateState(product, state)) {
            updateEndReported_ = true;
            return true;
        }
        if (intMember(state, "state") != 0) {
            reported = true;
            away = false;
            blankSince = {};
            return false;
        }
        if (!away) {
            return false;
        }
        const auto now = std::chrono::steady_clock::now();
        if (blankSince == std::chrono::steady_clock::time_point()) {
            blankSince = now;
        }
        if (now - blankSince < kRestartEvidence) {
            return false;
        }
        KV_LOG(4, "Firmware upload given up %s(%s): the device restarted\n", product->code,
               product->name.c_str());
        uploadAbandoned_ = true;
        return true;
    };
    while (!uploadFinished_) {
        auto reply = kvcurl::get(address + "/API/get_device_status:$._firmware_update.state",
                                 kPollTimeoutMs, kDeviceReplySizeLimit);
        if (reply->code == 200) {
            JsonDocument document;
            parseJson(document, reply->body.c_str());
            if (const rapidjson::Value* data = successData(document)) {
                const rapidjson::Value& value = member(*data, "value");
                if (value.IsObject() && handled(value)) {
                    return;
                }
            }
            if (pauseUntilUploadFinished()) {
                return;
            }
            continue;
        }
        // The status service is silent: ask the command service, back to back.
        reply = kvcurl::get(address + ":8080/commands/get_fwupdate_state", kPollTimeoutMs,
                            kDeviceReplySizeLimit);
        if (reply->code != 200) {
            away = reported;
            blankSince = {};
            core_.setStatus(product, ProgressUnavailable);
            // Neither service answers: without a pause this would spin on refused connections
            // for as long as the upload takes.
            if (pauseUntilUploadFinished()) {
                return;
            }
            continue;
        }
        JsonDocument document;
        parseJson(document, reply->body.c_str());
        if (const rapidjson::Value* data = successData(document)) {
            if (handled(*data)) {
                return;
            }
        }
    }
}

int32_t FirmwareUploader::update(const ProductPtr& product, const std::string& path) {
    active_ = true;
    const std::string url = "http://" + product->address.get() + ":8080/commands/upload";
    for (int attempt = 1; attempt <= kAttempts; ++attempt) {
        if (attempt > 1) {
            core_.setStatus(product, FirmwareUpdateRetrying);
        }
        product->errorCode = 0;
        uploadFinished_ = false;
        uploadAbandoned_ = false;
        updateEndReported_ = false;
        lastUpdateState_ = 0;
        pollThread_ = std::make_unique<std::thread>(&FirmwareUploader::poll, this, product);

        KV_LOG(6, "Updating firmware %s(%s):%s\n", product->code, product->name.c_str(),
               path.c_str());
        core_.setStatus(product, FirmwareUpdateRequest);
        // When the device's answer is due; none until it reported the end of its update.
        std::chrono::steady_clock::time_point answerDue;
        const auto abandoned = [this, &answerDue] {
            if (uploadAbandoned_) {
                return true;
            }
            if (!updateEndReported_) {
                return false;
            }
            const auto now = std::chrono::steady_clock::now();
            if (answerDue == std::chrono::steady_clock::time_point()) {
                answerDue = now + deviceWait(kAnswerAfterEnd);
            }
            return now > answerDue;
        };
        const int32_t result = kvcurl::upload(url, "firmware.bin", path, abandoned);

        {
            std::lock_guard<std::mutex> lock(uploadFinishedMutex_);
            uploadFinished_ = true;
        }
        uploadFinishedSignal_.notify_all();
        pollThread_->join();
        pollThread_.reset();
        if (result == 0 && product->errorCode == 0 && lastUpdateState_ != Failed &&
            lastUpdateState_ != Finished) {
            confirmUpdateEnd(product);
        }

        if (result == 0 && product->errorCode == 0) {
            if (lastUpdateState_ != 0) {
                core_.setStatus(product, DeviceRebooting);
                sendDeviceCommand(product, "reboot");
                rebooting_(product);
                active_ = false;
                return result::kSuccess;
            }
            product->errorCode = result::kDeviceReportedNothing;
        } else if (product->errorCode == 0) {
            product->errorCode = result;
        }
        core_.setStatus(product, FirmwareUpdateError);
    }
    active_ = false;
    return result::kDeviceReportedFailure;
}

} // namespace kv::portal
