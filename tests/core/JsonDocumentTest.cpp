#include "core/json/JsonDocument.h"

#include "core/json/JsonValue.h"

#include <gtest/gtest.h>
#include <rapidjson/error/error.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <memory>
#include <string>

namespace {

using kv::portal::JsonDocument;
using kv::portal::parseJson;
using kv::portal::writeJson;

// Each failure replaces a root parsed before with null and keeps its error, and its offset
// where one is given; blanks around a root are no failure.
TEST(JsonParse, FailureKeepsItsErrorAndLeavesANullRoot) {
    struct Case {
        const char* text;
        rapidjson::ParseErrorCode error;
        std::size_t offset;
    };
    const std::size_t any = ~std::size_t(0);
    const Case cases[] = {
        {"", rapidjson::kParseErrorDocumentEmpty, any},
        {" \t\r\n ", rapidjson::kParseErrorDocumentEmpty, any},
        {"{\"products\":[]} {\"products\":[]}", rapidjson::kParseErrorDocumentRootNotSingular, any},
        {"{\"products\": [1, 2}", rapidjson::kParseErrorNone, 18},
        {"{\"products\":", rapidjson::kParseErrorNone, any},
    };
    for (const Case& c : cases) {
        JsonDocument document;
        parseJson(document, "\n\t {\"products\": [1, 2]} \r\n");
        ASSERT_FALSE(document.HasParseError());
        ASSERT_EQ(document["products"].Size(), 2u);

        parseJson(document, c.text);
        EXPECT_TRUE(document.HasParseError()) << c.text;
        if (c.error != rapidjson::kParseErrorNone) {
            EXPECT_EQ(document.GetParseError(), c.error) << c.text;
        }
        if (c.offset != any) {
            EXPECT_EQ(document.GetErrorOffset(), c.offset) << c.text;
        }
        EXPECT_TRUE(document.IsNull()) << c.text;
    }
}

TEST(JsonParse, NestingIsParsedAndWrittenToItsLimitAndRefusedBeyond) {
    const size_t depth = kv::portal::kMaxJsonDepth;
    // Brackets inside strings, escaped quotes among them, nest nothing.
    const std::string strings = R"(["[[{\"[","\\","]}"])";
    const std::string deepest = std::string(depth - 1, '[') + strings + std::string(depth - 1, ']');
    JsonDocument document;

    parseJson(document, deepest.c_str());
    ASSERT_FALSE(document.HasParseError());
    EXPECT_EQ(writeJson(document), deepest);

    for (const std::string& tooDeep : {"[" + deepest + "]", R"({"a":)" + deepest + ",\"b\":{}}",
                                       std::string(1000000, '[') + std::string(1000000, ']')}) {
        parseJson(document, tooDeep.c_str());
        EXPECT_TRUE(document.HasParseError());
        EXPECT_LE(document.GetErrorOffset(), depth + 5);
        EXPECT_TRUE(document.IsNull());
    }
}

TEST(JsonWrite, IndentedTextIsWrittenCompactInStoredOrder) {
    JsonDocument document;
    parseJson(document, R"({
        "products" : [
            { "ID" : "KORVEX-FIRMWARE", "IV" : "1.4.2b310", "GN" : 3,
              "LK" : "https://downloads.kelmora.example/korvex 1.4.2.img" }
        ],
        "zeta" : { "b" : [ true, false, null ], "a" : -1.5e-3, "n" : 18446744073709551615 },
        "text" : "tab\tquote\" slash\\ \u00e9"
    })");

    EXPECT_EQ(writeJson(document),
              "{\"products\":[{\"ID\":\"KORVEX-FIRMWARE\",\"IV\":\"1.4.2b310\",\"GN\":3,"
              "\"LK\":\"https://downloads.kelmora.example/korvex 1.4.2.img\"}],"
              "\"zeta\":{\"b\":[true,false,null],\"a\":-0.0015,\"n\":18446744073709551615},"
              "\"text\":\"tab\\tquote\\\" slash\\\\ \xc3\xa9\"}");
}

TEST(JsonWrite, ScalarsAndEmptyContainers) {
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
            ASSERT_EQ(writeJson(value), expected.GetString())
                << "character " << character << " at " << place;
        }
    }
}

TEST(JsonParse, ZeroWithAnyExponentReadsAsZero) {
    JsonDocument document;
    parseJson(document, "[0e300,0.0000000000000000000000000e100,0e-300,0.0e5]");

    ASSERT_TRUE(document.IsArray());
    for (rapidjson::SizeType i = 0; i < document.Size(); ++i) {
        EXPECT_EQ(document[i].GetDouble(), 0.0) << i;
    }
}

} // namespace
