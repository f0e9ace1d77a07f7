#pragma once

#include <rapidjson/document.h>

#include <cstdint>
#include <string>

namespace kv::portal {

// The one immutable JSON null that lookups return when they find nothing.
const rapidjson::Value& nullValue();

// The first member of that name, or the null value. A value that is not an object prints
// "not an object [name]" and a missing member "rapidJson: member name not found; please fix
// it!" on the standard output.
const rapidjson::Value& member(const rapidjson::Value& value, const char* name);

// Whether the object has a member of that name; prints only for a value that is not an object.
bool hasMember(const rapidjson::Value& value, const char* name);

// The first member's value, or null when there is none; prints as hasMember does.
const rapidjson::Value* findMember(const rapidjson::Value& value, const char* name);

// A value as a truth value: true, or a non-zero number.
bool isTrue(const rapidjson::Value& value);

// A string's bytes; any other value reads as empty text.
std::string textOf(const rapidjson::Value& value);

// An unsigned 32-bit number; any other value reads as 0.
uint32_t unsignedOf(const rapidjson::Value& value);

} // namespace kv::portal
