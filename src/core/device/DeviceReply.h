#pragma once

#include <rapidjson/document.h>

#include <cstddef>

namespace kv::portal {

// The most a device's reply may hold; its answers are a few hundred bytes.
constexpr std::size_t kDeviceReplySizeLimit = 64 * 1024;

// The "data" object of a device's reply whose "error" is "Success", or null.
const rapidjson::Value* successData(const rapidjson::Value& reply);

} // namespace kv::portal
