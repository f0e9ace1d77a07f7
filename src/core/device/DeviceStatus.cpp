#include "core/device/DeviceInterface.h"
#include "core/device/DeviceReply.h"
#include "core/json/JsonValue.h"
#include "kvcurl/kvcurl.h"

namespace kv::portal {

namespace {

// A device that does not answer, or answers a byte at a time, must not hold one of the core's
// few probe threads for longer than this.
constexpr int kStatusQueryTimeoutMs = 3000;

// A status value that came back and is true.
bool answeredTrue(const rapidjson::Value* value) {
    return value != nullptr && isTrue(*value);
}

} // namespace

const rapidjson::Value* queryDeviceStatus(JsonDocument& document, const std::string& address,
                                          const std::string& jsonPath) {
    const auto reply = kvcurl::get(address + "/API/get_device_status:" + jsonPath,
                                   kStatusQueryTimeoutMs, kDeviceReplySizeLimit);
    if (reply->code != 200) {
        return nullptr;
    }
    parseJson(document, reply->body.c_str());
    const rapidjson::Value* data = successData(document);
    return data != nullptr ? findMember(*data, "value") : nullptr;
}

std::string querySerial(const std::string& address) {
    JsonDocument document;
    const rapidjson::Value* value = queryDeviceStatus(document, address, "$.identity.serial");
    return value != nullptr ? textOf(*value) : std::string();
}

ProductPtr probeDante(const Product& product) {
    const std::string address = product.address.get();
    // Only the four dual-mode families have a twin; the others are not asked.
    const ProductCode twinCode = danteTwinCode(product.code);
    if (address.empty() || twinCode == nullptr) {
        return nullptr;
    }
    JsonDocument capable;
    if (!answeredTrue(queryDeviceStatus(capable, address, "$._modules[0].state.dante_capable"))) {
        return nullptr;
    }
    auto twin = std::make_shared<Product>(twinCode, kDanteTwinPrefix + product.name, address,
                                          product.version.get());
    JsonDocument running;
    twin->running = answeredTrue(queryDeviceStatus(running, address, "$.identity.Dante"));
    return twin;
}

} // namespace kv::portal
