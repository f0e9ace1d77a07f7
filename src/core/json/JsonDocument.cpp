#include "core/json/JsonDocument.h"

#include <rapidjson/writer.h>

#include <vector>

namespace kv::portal {

void parseJson(rapidjson::Document& document, const char* text) {
    // The iterative parser accepts exactly what the default one does. Numbers are read at the
    // default precision, within a few units of the last place: the full-precision reading of
    // this library makes up a value for a zero with a large exponent, such as 0e300.
    document.Parse<rapidjson::kParseIterativeFlag>(text != nullptr ? text : "");
    if (document.HasParseError()) {
        document.SetNull();
    }
}

namespace {

// The writer's output, straight into the text it gives back: no second copy of a large file.
class TextOutput {
public:
    using Ch = char;
    explicit TextOutput(std::string& text) : text_(text) {}
    void Put(char c) { text_.push_back(c); }
    void Flush() {}

private:
    std::string& text_;
};

using Writer = rapidjson::Writer<TextOutput>;

void writeScalar(Writer& writer, const rapidjson::Value& value) {
    if (value.IsNull()) {
        writer.Null();
    } else if (value.IsBool()) {
        writer.Bool(value.GetBool());
    } else if (value.IsString()) {
        writer.String(value.GetString(), value.GetStringLength());
    } else if (value.IsDouble()) {
        writer.Double(value.GetDouble());
    } else if (value.IsInt()) {
        writer.Int(value.GetInt());
    } else if (value.IsUint()) {
        writer.Uint(value.GetUint());
    } else if (value.IsInt64()) {
        writer.Int64(value.GetInt64());
    } else {
        writer.Uint64(value.GetUint64());
    }
}

// An object or array being written, and the position of its next member or element.
struct OpenValue {
    const rapidjson::Value* value;
    rapidjson::SizeType next;
};

} // namespace

// Walks the tree with a stack of its own, as deep as the parser allows, where the library's
// recursive walk would run out of stack.
std::string writeJson(const rapidjson::Value& value) {
    std::string text;
    TextOutput output(text);
    Writer writer(output);
    std::vector<OpenValue> open;
    const rapidjson::Value* pending = &value;
    for (;;) {
        if (pending != nullptr) {
            if (pending->IsObject()) {
                writer.StartObject();
                open.push_back({pending, 0});
            } else if (pending->IsArray()) {
                writer.StartArray();
                open.push_back({pending, 0});
            } else {
                writeScalar(writer, *pending);
            }
            pending = nullptr;
        }
        if (open.empty()) {
            break;
        }
        OpenValue& current = open.back();
        if (current.value->IsObject()) {
            if (current.next < current.value->MemberCount()) {
                const auto member = current.value->MemberBegin() + current.next++;
                writer.Key(member->name.GetString(), member->name.GetStringLength());
                pending = &member->value;
            } else {
                writer.EndObject(current.value->MemberCount());
                open.pop_back();
            }
        } else if (current.next < current.value->Size()) {
            pending = &(*current.value)[current.next++];
        } else {
            writer.EndArray(current.value->Size());
            open.pop_back();
        }
    }
    return text;
}

} // namespace kv::portal
