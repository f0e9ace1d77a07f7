#include "StdoutCapture.h"
#include "core/json/JsonDocument.h"
#include "core/json/JsonValue.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace {

using namespace kv::portal;

// What a lookup printed on the standard output.
std::string printed(const std::function<void()>& lookup) {
    kv::test::StdoutCapture capture;
    lookup();
    return capture.text();
}

class JsonLookup : public ::testing::Test {
protected:
    void SetUp() override {
        parseJson(entry, R"({"ID":"PELRA-FIRMWARE","IV":"2.0.1b7","GN":null,"IVX":"9.9.9",)"
                         R"("ID":"second","flag":1})");
        ASSERT_TRUE(entry.IsObject());
    }

    JsonDocument entry;
};

// The first member of exactly that name, a name being the prefix of nothing; a missing member,
// or a lookup in something that is not an object, prints why and reads as the shared null.
TEST_F(JsonLookup, MemberFindsTheFirstOfExactlyThatNameOrPrintsWhyNot) {
    JsonDocument broken;
    parseJson(broken, "{\"products\": [");
    const rapidjson::Value& id = member(entry, "ID");
    struct Case {
        const rapidjson::Value& in;
        const char* name;
        const char* printed;
        const char* text;
    };
    const Case cases[] = {
        {entry, "ID", "", "PELRA-FIRMWARE"},
        {entry, "IV", "", "2.0.1b7"},
        {entry, "IVX", "", "9.9.9"},
        {entry, "IF", "rapidJson: member IF not found; please fix it!\n", nullptr},
        {entry, "I", "rapidJson: member I not found; please fix it!\n", nullptr},
        {id, "IF", "not an object [IF]\n", nullptr},
        {broken, "products", "not an object [products]\n", nullptr},
    };
    for (const Case& c : cases) {
        const rapidjson::Value* found = nullptr;
        EXPECT_EQ(printed([&] { found = &member(c.in, c.name); }), c.printed) << c.name;
        if (c.text != nullptr) {
            EXPECT_EQ(textOf(*found), c.text);
            continue;
        }
        EXPECT_EQ(found, &nullValue()) << c.name;
        EXPECT_TRUE(found->IsNull());
        EXPECT_EQ(textOf(*found), "");
        EXPECT_EQ(unsignedOf(*found), 0u);
    }
}

TEST_F(JsonLookup, PresenceTestsPrintOnlyForNonObjects) {
    EXPECT_EQ(printed([&] {
                  EXPECT_TRUE(hasMember(entry, "GN"));
                  EXPECT_FALSE(hasMember(entry, "MD5"));
                  EXPECT_EQ(findMember(entry, "MD5"), nullptr);
                  ASSERT_NE(findMember(entry, "GN"), nullptr);
                  EXPECT_TRUE(findMember(entry, "GN")->IsNull());
              }),
              "");
    EXPECT_EQ(printed([&] {
                  EXPECT_FALSE(hasMember(member(entry, "IV"), "LA"));
                  EXPECT_EQ(findMember(member(entry, "IV"), "RN"), nullptr);
              }),
              "not an object [LA]\nnot an object [RN]\n");
}

TEST(JsonRead, TextAndUnsignedOfOtherTypesReadAsEmptyAndZero) {
    JsonDocument values;
    parseJson(values, R"([42, -1, 4294967296, 2.0, "7", true, {}, [], "a\u0000b"])");
    ASSERT_TRUE(values.IsArray());

    EXPECT_EQ(unsignedOf(values[0]), 42u);
    for (rapidjson::SizeType i = 1; i < 8; ++i) {
        EXPECT_EQ(unsignedOf(values[i]), 0u) << i;
    }
    EXPECT_EQ(textOf(values[4]), "7");
    EXPECT_EQ(textOf(values[0]), "");
    EXPECT_EQ(textOf(values[6]), "");
    EXPECT_EQ(textOf(values[8]), std::string("a\0b", 3));
}

TEST(JsonTruth, OnlyTrueAndNonZeroNumbersAreTrue) {
    JsonDocument values;
    parseJson(values, R"([null, true, false, 0.0, 0.5, 0, 2, -1, 4294967295, -4294967296,
                          18446744073709551615, 0, "true", {}, [1]])");
    ASSERT_TRUE(values.IsArray());
    const rapidjson::SizeType falseOnes[] = {0, 2, 3, 5, 11, 12, 13, 14};
    const rapidjson::SizeType trueOnes[] = {1, 4, 6, 7, 8, 9, 10};

    for (const rapidjson::SizeType i : falseOnes) {
        EXPECT_FALSE(isTrue(values[i])) << i;
    }
    for (const rapidjson::SizeType i : trueOnes) {
        EXPECT_TRUE(isTrue(values[i])) << i;
    }
    EXPECT_FALSE(isTrue(nullValue()));
}

} // namespace
