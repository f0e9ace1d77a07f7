#pragma once

#include "core/Product.h"
#include "core/json/JsonDocument.h"

#include <functional>
#include <string>

namespace kv::portal {

// The devices' own HTTP services: status queries, the Dante twin and commands.

// The "value" of a successful status query, inside `document`; null for any other answer.
const rapidjson::Value* queryDeviceStatus(JsonDocument& document, const std::string& address,
                                          const std::string& jsonPath);
std::string querySerial(const std::string& address);
// The Dante twin of a dual-mode device, running when the device runs its Dante firmware; null
// when it has none.
ProductPtr probeDante(const Product& product);
// Only firmware this program updates takes commands; true when the device answered 200.
bool sendDeviceCommand(const ProductPtr& product, const std::string& command);

// After the reboot that ends an update: waits, for a bounded time and while `watched` says so,
// until the device's status service answers again, then gives the product the version it
// reports. Abandoned when the wait ended because `watched` said no.
enum class ReturnOutcome { Back, NotBack, Abandoned };
ReturnOutcome awaitReturn(const ProductPtr& product, const std::function<bool()>& watched);

} // namespace kv::portal
