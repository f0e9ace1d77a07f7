#include "core/device/DeviceReply.h"

#include "core/json/JsonValue.h"

namespace kv::portal {

const rapidjson::Value* successData(const rapidjson::Value& reply) {
    const rapidjson::Value& error = member(reply, "error");
    if (!error.IsString() || textOf(error) != "Success") {
        return nullptr;
    }
    const rapidjson::Value& data = member(reply, "data");
    return data.IsObject() ? &data : nullptr;
}

} // namespace kv::portal
