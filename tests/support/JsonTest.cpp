#include "support/Json.h"
#include "support/JsonReader.h"

#include <cstdint>

#include <gtest/gtest.h>

using namespace vessora;

TEST(Json, StringsKeepEveryByteAndStructure) {
    EXPECT_EQ(JsonWriter::quote("plain"), "\"plain\"");
    EXPECT_EQ(JsonWriter::quote("a\"b\\c\nd\te\x01"), "\"a\\\"b\\\\c\\nd\\te\\u0001\"");
    EXPECT_EQ(JsonWriter::quote("caf\xc3\xa9"), "\"caf\xc3\xa9\"");
    // Bytes that do not decode become surrogate escapes, one per byte.
    EXPECT_EQ(JsonWriter::quote("a\xff\xc3("), "\"a\\udcff\\udcc3(\"");
    EXPECT_EQ(JsonWriter::quote("\xed\xa0\x80"), "\"\\udced\\udca0\\udc80\"") << "encoded surrogates are invalid";
    // Raw bytes, as scan exports write names: only quote, backslash and control characters escaped.
    std::string raw;
    JsonWriter::appendQuoted(raw, "a\xff\x7f\"\x01", true);
    EXPECT_EQ(raw, "\"a\xff\x7f\\\"\\u0001\"");
    auto decoded = parseJson("\"\\udcff\\u00e9\\ud83d\\ude00\\/\"");
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->string, "\xff\xc3\xa9\xf0\x9f\x98\x80/");
    for (const char* broken : {"\"\\ud83d\"", "\"\\ude00\"", "\"\\u12g4\"", "\"\\q\"", "\"\\"})
        EXPECT_FALSE(parseJson(broken)) << broken;
    std::string out;
    JsonWriter w(out, false);
    w.beginObject().field("n", int64_t(-3)).field("ok", true).key("list").beginArray();
    w.value("x").beginObject().endObject().beginArray().endArray().null();
    w.endArray().endObject();
    EXPECT_EQ(out, R"({"n":-3,"ok":true,"list":["x",{},[],null]})");
}

// Numbers are read as JSON writes them, finite; whole numbers exactly and in range.
TEST(JsonReader, NumbersAsJsonDefinesThemAndNestingIsCapped) {
    for (const char* text :
         {"0", "-0", "12", "-12", "0.5", "-1.25e3", "1E+2", "2e-3", "123456789012345678901234567890"})
        EXPECT_TRUE(parseJson(text)) << text;
    for (const char* text : {"01", "+1", ".5", "1.", "-", "1e", "1e+", "0x10", "1e999", "-1e999", "Infinity", "NaN",
                             "1 2", "--1", "1.5.5", "\"a\" 1"})
        EXPECT_FALSE(parseJson(text)) << text;
    auto number = [](const char* text) { return *parseJson(text); };
    EXPECT_EQ(number("9007199254740993").unsignedInteger(), 9007199254740993u) << "beyond a double's precision";
    EXPECT_EQ(number("18446744073709551615").unsignedInteger(), 18446744073709551615u);
    for (const char* bad : {"18446744073709551616", "-1", "1.0", "1e3", "1e20"})
        EXPECT_FALSE(number(bad).unsignedInteger()) << bad;
    EXPECT_EQ(number("-7").integer(-10, 10), -7);
    EXPECT_FALSE(number("11").integer(-10, 10) || number("1e20").integer(0, INT64_MAX));
    // A NUL is a character like any other to the reader; the readers of paths refuse it.
    EXPECT_EQ(parseJson("\"a\\u0000b\"")->string, std::string("a\0b", 3));
    // Nesting is capped.
    auto nested = [](int depth) { return std::string(size_t(depth), '[') + "1" + std::string(size_t(depth), ']'); };
    EXPECT_TRUE(parseJson(nested(maxJsonDepth)));
    EXPECT_FALSE(parseJson(nested(maxJsonDepth + 1)) || parseJson(std::string(100000, '[')));
}
