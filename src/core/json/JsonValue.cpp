#include "core/json/JsonValue.h"

#include <cstdio>
#include <cstring>

namespace kv::portal {

const rapidjson::Value& nullValue() {
    static const rapidjson::Value null;
    return null;
}

namespace {

bool isObject(const rapidjson::Value& value, const char* name) {
    if (!value.IsObject()) {
        std::printf("not an object [%s]\n", name);
        return false;
    }
    return true;
}

const rapidjson::Value* firstMember(const rapidjson::Value& object, const char* name) {
    const size_t length = std::strlen(name);
    for (auto it = object.MemberBegin(); it != object.MemberEnd(); ++it) {
        if (it->name.GetStringLength() == length &&
            std::memcmp(it->name.GetString(), name, length) == 0) {
            return &it->value;
        }
    }
    return nullptr;
}

} // namespace

const rapidjson::Value& member(const rapidjson::Value& value, const char* name) {
    if (!isObject(value, name)) {
        return nullValue();
    }
    if (const rapidjson::Value* found = firstMember(value, name)) {
        return *found;
    }
    std::printf("rapidJson: member %s not found; please fix it!\n", name);
    return nullValue();
}

bool hasMember(const rapidjson::Value& value, const char* name) {
    return findMember(value, name) != nullptr;
}

const rapidjson::Value* findMember(const rapidjson::Value& value, const char* name) {
    return isObject(value, name) ? firstMember(value, name) : nullptr;
}

bool isTrue(const rapidjson::Value& value) {
    if (value.IsBool()) {
        return value.GetBool();
    }
    if (!value.IsNumber()) {
        return false;
    }
    if (value.IsDouble()) {
        return value.GetDouble() != 0.0;
    }
    if (value.IsInt()) {
        return value.GetInt() != 0;
    }
    if (value.IsUint()) {
        return value.GetUint() != 0;
    }
    return value.IsInt64() ? value.GetInt64() != 0 : value.GetUint64() != 0;
}

std::string textOf(const rapidjson::Value& value) {
    return value.IsString() ? std::string(value.GetString(), value.GetStringLength())
                            : std::string();
}

uint32_t unsignedOf(const rapidjson::Value& value) {
    return value.IsUint() ? value.GetUint() : 0;
}

} // namespace kv::portal
