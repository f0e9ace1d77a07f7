#pragma once

#include "core/Product.h"
#include "core/json/JsonDocument.h"

#include <functional>
#include <string>

namespace kv::portal {

class Core;

// The devices' own HTTP services: status queries, the Dante twin, commands and the
// firmware-update poller.
class DeviceInterface {
public:
    // The "value" of a successful status query, inside `document`; null for any other answer.
    static const rapidjson::Value* queryDeviceStatus(JsonDocument& document,
                                                     const std::string& address,
                                                     const std::string& jsonPath);
    static std::string querySerial(Core& core, const std::string& address);
    // The Dante twin of a dual-mode device, running when the device runs its Dante firmware;
    // null when it has none.
    static ProductPtr probeDante(Core& core, const Product& product);
    // Only updatable firmware takes commands; true when the device answered 200.
    static bool sendDeviceCommand(Core& core, const ProductPtr& product,
                                  const std::string& command);

    // After the reboot that ends an update: waits, for a bounded time and while `watched` says
    // so, until the device's status service answers again, then takes the version it reports
    // and works out the device's status.
    static void awaitReturn(Core& core, const ProductPtr& product,
                            const std::function<bool()>& watched);

    // The poller of one upload attempt: follows the device's update state until the device
    // reports the end or the upload returns.
    static void pollFirmwareUpdate(Core& core, const ProductPtr& product);
    // Asks once more, after the upload returned, whether the device finished or failed: a
    // failure shown for less than a poll's pause is missed by the poller.
    static void confirmUpdateEnd(Core& core, const ProductPtr& product);
    // True when the state ends the poll (finished or failed).
    static bool handleUpdateState(Core& core, const ProductPtr& product,
                                  const rapidjson::Value& state);
};

} // namespace kv::portal
