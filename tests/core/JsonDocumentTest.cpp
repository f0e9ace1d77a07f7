#include "core/json/JsonDocument.h"

#include "StdoutCapture.h"
#include "core/json/JsonValue.h"

#include <gtest/gtest.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

namespace {

using namespace kv::portal;

// Each failure replaces a root parsed before with null and keeps its error, and its offset
// where one is given; blanks around a root are no failure.
TEST(JsonParse, FailureKeepsItsErrorAndLeavesANullRoot) {
    const std::size_t any = ~std::size_t(0);
    const std::tuple<const char*, rapidjson::ParseErrorCode, std::size_t> cases[] = {
        {"", rapidjson::kParseErrorDocumentEmpty, any},
        {" \t\r\n ", rapidjson::kParseErrorDocumentEmpty, any},
        {"{\"products\":[]} {\"products\":[]}", rapidjson::kParseErrorDocumentRootNotSingular, any},
        {"{\"products\": [1, 2}", rapidjson::kParseErrorNone, 18},
        {"{\"products\":", rapidjson::kParseErrorNone, any},
    };
    for (const auto& [text, error, offset] : cases) {
        JsonDocument document;
        parseJson(document, "\n\t {\"products\": [1, 2]} \r\n");
        ASSERT_EQ(document["products"].Size(), 2u);
        parseJson(document, text);
        EXPECT_TRUE(document.HasParseError()) << text;
        EXPECT_TRUE(error == rapidjson::kParseErrorNone || document.GetParseError() == error);
        EXPECT_TRUE(offset == any || document.GetErrorOffset() == offset) << text;
        EXPECT_TRUE(document.IsNull()) << text;
    }
}

TEST(JsonParse, NestingIsParsedAndWrittenToItsLimitAndRefusedBeyond) {
    const size_t depth = kMaxJsonDepth;
    // Brackets inside strings, escaped quotes among them, nest nothing.
    const std::string strings = R"(["[[{\"[","\\","]}"])";
    const std::string deepest = std::string(depth - 1, '[') + strings + std::string(depth - 1, ']');
    JsonDocument document;
    parseJson(document, deepest.c_str());
    EXPECT_EQ(writeJson(document), deepest);
    for (const std::string& tooDeep : {"[" + deepest + "]", R"({"a":)" + deepest + ",\"b\":{}}",
                                       std::string(1000000, '[') + std::string(1000000, ']')}) {
        parseJson(document, tooDeep.c_str());
        EXPECT_TRUE(document.HasParseError());
        EXPECT_LE(document.GetErrorOffset(), depth + 5);
        EXPECT_TRUE(document.IsNull());
    }
}

TEST(JsonWrite, TextIsWrittenCompactInStoredOrder) {
    const std::pair<const char*, const char*> cases[] = {
        {R"({ "products" : [ { "ID" : "KORVEX-FIRMWARE", "GN" : 3, "LK" : "https://k/a b.img" } ],
              "zeta" : { "b" : [ true, false, null ], "a" : -1.5e-3, "n" : 18446744073709551615 },
              "text" : "tab\tquote\" slash\\ \u00e9" })",
         "{\"products\":[{\"ID\":\"KORVEX-FIRMWARE\",\"GN\":3,\"LK\":\"https://k/a b.img\"}],"
         "\"zeta\":{\"b\":[true,false,null],\"a\":-0.0015,\"n\":18446744073709551615},"
         "\"text\":\"tab\\tquote\\\" slash\\\\ \xc3\xa9\"}"},
        // A zero with any exponent reads as zero.
        {"[0e300,0.0000000000000000000000000e100,0e-300,0.0e5]", "[0.0,0.0,0.0,0.0]"},
    };
    for (const auto& [text, written] : cases) {
        JsonDocument document;
        parseJson(document, text);
        EXPECT_EQ(writeJson(document), written);
    }
    for (const char* text :
         {"null", "0", "-2147483649", "4294967295", "\"\"", "[]", "{}", "[[],{},[{}]]"}) {
        JsonDocument document;
        parseJson(document, text);
        EXPECT_EQ(writeJson(document), text);
    }
}

// Strings are copied in runs between the characters that need an escape; the library's own
// writer, which looks at every character, says what each string must become.
TEST(JsonWrite, EveryCharacterAtEveryPlaceOfARunIsEscapedAsTheLibraryDoes) {
    for (int character = 0; character < 0x80; ++character) {
        for (std::size_t place = 0; place < 19; ++place) {
            std::string text(19, 'k');
            text[place] = static_cast<char>(character);
            text += "\xc3\xa9";
            const rapidjson::Value value(text.data(),
                                         static_cast<rapidjson::SizeType>(text.size()));
            rapidjson::StringBuffer expected;
            rapidjson::Writer<rapidjson::StringBuffer> writer(expected);
            value.Accept(writer);
            ASSERT_EQ(writeJson(value), expected.GetString()) << character << " at " << place;
        }
    }
}

// The first member of exactly that name, a name being the prefix of nothing; a missing member,
// or a lookup in something that is not an object, prints why and reads as the shared null.
TEST(JsonLookup, MemberFindsTheFirstOfExactlyThatNameOrPrintsWhyNot) {
    JsonDocument entry;
    parseJson(entry, R"({"ID":"PELRA-FIRMWARE","IV":"2.0.1b7","GN":null,"IVX":"9.9.9",)"
                     R"("ID":"second","flag":1})");
    JsonDocument broken;
    parseJson(broken, "{\"products\": [");
    const rapidjson::Value& id = member(entry, "ID");
    const std::tuple<const rapidjson::Value&, const char*, const char*, const char*> cases[] = {
        {entry, "ID", "", "PELRA-FIRMWARE"},
        {entry, "IV", "", "2.0.1b7"},
        {entry, "IVX", "", "9.9.9"},
        {entry, "IF", "rapidJson: member IF not found; please fix it!\n", nullptr},
        {entry, "I", "rapidJson: member I not found; please fix it!\n", nullptr},
        {id, "IF", "not an object [IF]\n", nullptr},
        {broken, "products", "not an object [products]\n", nullptr},
    };
    for (const auto& [in, name, output, text] : cases) {
        const kv::test::StdoutCapture capture;
        const rapidjson::Value& found = member(in, name);
        EXPECT_EQ(capture.text(), output) << name;
        EXPECT_EQ(textOf(found), text ? text : "") << name;
        EXPECT_EQ(&found == &nullValue(), text == nullptr) << name;
    }
}

// Only strings have text and only unsigned 32-bit integers a number; only true and non-zero
// numbers are true.
TEST(JsonRead, ValuesOfOtherTypesReadAsEmptyZeroOrFalse) {
    JsonDocument values;
    parseJson(values, R"([42, "7", "a\u0000b", -1, 4294967296, 2.0, true, {}, [], null, 0.5,
                          -4294967296, 18446744073709551615, false, 0, 0.0, "true", [1]])");
    std::string seen;
    for (const rapidjson::Value& value : values.GetArray()) {
        seen += std::to_string(unsignedOf(value)) + textOf(value) + (isTrue(value) ? "T " : " ");
    }
    EXPECT_EQ(seen, std::string("42T 07 0a\0b 0T 0T 0T 0T 0 0 0 0T 0T 0T 0 0 0 0true 0 ", 53));
    EXPECT_FALSE(isTrue(nullValue()));
}

} // namespace
