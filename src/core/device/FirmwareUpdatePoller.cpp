#include "core/Core.h"
#include "core/device/DeviceInterface.h"
#include "core/device/DeviceReply.h"
#include "core/json/JsonDocument.h"
#include "core/json/JsonValue.h"
#include "ru_rod.h"

#include <chrono>

namespace kv::portal {

namespace {

constexpr int kPollTimeoutMs = 1000;
constexpr auto kPollPause = std::chrono::milliseconds(1000);
// How long a device that came back must go on knowing of no update before the upload is given
// up: one busy writing its flash may miss polls and then answer blank for a moment.
constexpr auto kRestartEvidence = std::chrono::seconds(5);

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

bool DeviceInterface::handleUpdateState(Core& core, const ProductPtr& product,
                                        const rapidjson::Value& state) {
    const int value = intMember(state, "state");
    // A blank answer after progress does not undo it: the device did report.
    if (value != 0) {
        core.lastUpdateState_ = value;
    }
    switch (value) {
    case Failed:
        product->errorCode = -1;
        core.setStatus(product, FirmwareUpdateError);
        return true;
    case Finished:
        return true;
    case Uploading:
        core.setStatus(product, FirmwareUploading);
        break;
    case Updating:
        core.setStatus(product, FirmwareUpdating);
        break;
    case Resizing:
        core.setStatus(product, ResizingPartitions);
        break;
    default:
        break;
    }
    const int percent = intMember(state, "percent");
    const rapidjson::Value& text = member(state, "text");
    const char* textOrNone = text.IsString() ? text.GetString() : nullptr;
    core.notifyListeners([&](Core::Listener& listener) {
        listener.updateProgress(&core, product->name.c_str(), value, textOrNone, percent);
    });
    return false;
}

void DeviceInterface::confirmUpdateEnd(Core& core, const ProductPtr& product) {
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
        handleUpdateState(core, product, *state);
    }
}

void DeviceInterface::pollFirmwareUpdate(Core& core, const ProductPtr& product) {
    const std::string address = product->address.get();
    // True once the upload has returned; otherwise waits out the pause and says false.
    const auto pauseUntilUploadFinished = [&core] {
        std::unique_lock<std::mutex> lock(core.uploadFinishedMutex_);
        return core.uploadFinishedSignal_.wait_for(lock, kPollPause,
                                                   [&core] { return core.uploadFinished_.load(); });
    };
    // A device that reported this update, then answered neither service, and now goes on
    // answering with no update under way has restarted: its answer to the upload, whose
    // connection it forgot, never comes.
    bool reported = false;
    bool away = false;
    // When the device, back, first answered blank; none while it reports or is away.
    std::chrono::steady_clock::time_point blankSince;
    const auto handled = [&](const rapidjson::Value& state) {
        if (handleUpdateState(core, product, state)) {
            core.updateEndReported_ = true;
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
        core.uploadAbandoned_ = true;
        return true;
    };
    while (!core.uploadFinished_) {
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
            core.setStatus(product, ProgressUnavailable);
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

} // namespace kv::portal
