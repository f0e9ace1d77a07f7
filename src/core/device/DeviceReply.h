#pragma once

#include <rapidjson/document.h>

namespace kv::portal {

// The "data" object of a device's reply whose "error" is "Success", or null.
const rapidjson::Value* successData(const rapidjson::Value& reply);

} // namespace kv::portal
