#include "core/json/JsonDocument.h"

#include <rapidjson/writer.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace kv::portal {

namespace {

// The offset of the first array or object that opens deeper than kMaxJsonDepth, or npos. The
// library's own search for the characters that matter is far quicker than a loop of ours.
std::size_t tooDeepAt(const char* text) {
    std::size_t depth = 0;
    const char* next = text;
    for (;;) {
        next += std::strcspn(next, "\"[]{}");
        switch (*next) {
        case '\0':
            return std::string::npos;
        case '"':
            // To the closing quote, over escaped characters.
            for (++next;; next += 2) {
                next += std::strcspn(next, "\"\\");
                if (*next != '\\' || next[1] == '\0') {
                    break;
                }
            }
            if (*next == '\0') {
                return std::string::npos;
            }
            break;
        case '[':
        case '{':
            if (++depth > kMaxJsonDepth) {
                return static_cast<std::size_t>(next - text);
            }
            break;
        default:
            depth -= depth > 0 ? 1 : 0;
            break;
        }
        ++next;
    }
}

} // namespace

void parseJson(rapidjson::Document& document, const char* text) {
    if (text == nullptr) {
        text = "";
    }
    // The iterative parser accepts exactly what the default one does. Numbers are read at the
    // default precision, within a few units of the last place: the full-precision reading of
    // this library makes up a value for a zero with a large exponent, such as 0e300.
    if (const std::size_t tooDeep = tooDeepAt(text); tooDeep != std::string::npos) {
        // The text up to there cannot be whole: its parse fails there, or earlier, with the
        // library's own error and offset.
        document.Parse<rapidjson::kParseIterativeFlag>(text, tooDeep);
    } else {
        document.Parse<rapidjson::kParseIterativeFlag>(text);
    }
    if (document.HasParseError()) {
        document.SetNull();
    }
}

namespace {

// The writer's output, straight into the text it gives back: no second copy of a large file.
// The writer reserves room before each token, so characters go in without a growth of their own.
class TextOutput {
public:
    using Ch = char;
    void Put(char c) { text_.push_back(c); }
    void Reserve(std::size_t count) {
        if (text_.capacity() - text_.size() < count) {
            text_.reserve(std::max(2 * text_.capacity(), text_.size() + count));
        }
    }
    void Append(const char* characters, std::size_t count) { text_.append(characters, count); }
    void Flush() {}
    std::string take() { return std::move(text_); }

private:
    std::string text_;
};

} // namespace
} // namespace kv::portal

namespace rapidjson {

template <>
inline void PutReserve(kv::portal::TextOutput& output, size_t count) {
    output.Reserve(count);
}

// Runs of characters that need no escape are copied whole instead of one by one. Eight at a
// time are checked for a control character, a quote or a backslash.
template <>
inline bool Writer<kv::portal::TextOutput>::ScanWriteUnescapedString(StringStream& is,
                                                                     size_t length) {
    const char* const begin = is.src_;
    const char* const end = is.head_ + length;
    const char* next = begin;
    constexpr std::uint64_t ones = 0x0101010101010101u;
    constexpr std::uint64_t highs = 0x8080808080808080u;
    while (end - next >= 8) {
        std::uint64_t word;
        std::memcpy(&word, next, sizeof(word));
        const std::uint64_t quotes = word ^ (ones * '"');
        const std::uint64_t backslashes = word ^ (ones * '\\');
        const std::uint64_t special =
            ((word - ones * 0x20) | (quotes - ones) | (backslashes - ones)) & ~word & highs;
        if (special != 0) {
            break;
        }
        next += 8;
    }
    while (next != end && static_cast<unsigned char>(*next) >= 0x20 && *next != '"' &&
           *next != '\\') {
        ++next;
    }
    os_->Append(begin, static_cast<std::size_t>(next - begin));
    is.src_ = next;
    return next != end;
}

} // namespace rapidjson

namespace kv::portal {
namespace {

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
    TextOutput output;
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
    return output.take();
}

} // namespace kv::portal
