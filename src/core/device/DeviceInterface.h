#pragma once

#include "core/Product.h"

#include <string>

namespace kv::portal {

class Core;

// The devices' own HTTP services: status queries, the Dante twin, commands and the
// firmware-update poller.
class DeviceInterface {
public:
    static std::string querySerial(Core& core, const std::string& address);
    static bool probeDante(Core& core, const ProductPtr& product);
};

} // namespace kv::portal
