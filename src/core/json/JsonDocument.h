#pragma once

#include <rapidjson/document.h>

#include <cstddef>
#include <string>

namespace kv::portal {

// Gives the document its pool before the document is built on it.
class JsonPool {
protected:
    static constexpr size_t kChunkBytes = 65536;
    rapidjson::MemoryPoolAllocator<> pool_{kChunkBytes};
};

// A JSON document with a pool of its own: values are allocated in 64 KiB chunks, freeing one
// does nothing, and the chunks go with the document.
class JsonDocument : private JsonPool, public rapidjson::Document {
public:
    static constexpr size_t kParseStackBytes = 1024;

    JsonDocument() : rapidjson::Document(rapidjson::kNullType, &pool_, kParseStackBytes) {}
    JsonDocument(const JsonDocument&) = delete;
    JsonDocument& operator=(const JsonDocument&) = delete;
};

// Arrays and objects nested deeper than this are refused: no publish file or device reply comes
// near it, and each level costs the parser memory (a file of "[" would cost gigabytes).
constexpr std::size_t kMaxJsonDepth = 64;

// Parses a whole NUL-terminated text into the document. The error code and offset stay in the
// document; on failure its root is null. Nesting beyond kMaxJsonDepth fails at the array or
// object that opens too deep.
void parseJson(rapidjson::Document& document, const char* text);

// The compact text of a value: no spaces, no line breaks, members in stored order.
std::string writeJson(const rapidjson::Value& value);

} // namespace kv::portal
