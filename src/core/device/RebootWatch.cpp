#include "core/device/DeviceInterface.h"
#include "core/device/DeviceReply.h"
#include "core/device/DeviceWaits.h"
#include "core/json/JsonDocument.h"
#include "core/json/JsonValue.h"
#include "kvcurl/kvcurl.h"
#include "ru_rod.h"

#include <chrono>
#include <thread>

namespace kv::portal {

namespace {

// A reboot, partitions resized included, takes well under this; a device not back by then is
// shown as it is.
constexpr auto kReturnBound = std::chrono::seconds(180);
constexpr auto kPollPause = std::chrono::seconds(1);
constexpr int kQueryTimeoutMs = 1000;

// The version the device's status service reports, if it answers.
bool reportedVersion(const std::string& address, Version& version) {
    const auto reply =
        kvcurl::get(address + "/API/get_device_status:$.identity.version", kQueryTimeoutMs);
    if (reply->code != 200) {
        return false;
    }
    JsonDocument document;
    parseJson(document, reply->body.c_str());
    const rapidjson::Value* data = successData(document);
    const rapidjson::Value* value = data != nullptr ? findMember(*data, "value") : nullptr;
    if (value == nullptr || !value->IsString()) {
        return false;
    }
    version.parseVersion(value->GetString());
    return true;
}

} // namespace

bool awaitReturn(const ProductPtr& product, const std::function<bool()>& watched) {
    const std::string address = product->address.get();
    const Version before = product->version.get();
    const auto deadline = std::chrono::steady_clock::now() + deviceWait(kReturnBound);
    // A device that never went away is back only once it runs something else: right after the
    // command it may still answer for a moment.
    bool away = false;
    for (;;) {
        if (!watched()) {
            return false;
        }
        Version reported = before;
        if (reportedVersion(address, reported)) {
            if (away || versionText(reported) != versionText(before)) {
                product->version.set(reported);
                break;
            }
        } else {
            away = true;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            KV_LOG(4, "Device %s(%s) did not come back from its reboot\n", product->code,
                   product->name.c_str());
            break;
        }
        std::this_thread::sleep_for(kPollPause);
    }
    return true;
}

} // namespace kv::portal
