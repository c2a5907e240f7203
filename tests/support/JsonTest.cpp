#include "support/Json.h"

#include <gtest/gtest.h>

using namespace vessora;

TEST(Json, StringsKeepEveryByte) {
    EXPECT_EQ(JsonWriter::quote("plain"), "\"plain\"");
    EXPECT_EQ(JsonWriter::quote("a\"b\\c\nd\te\x01"), "\"a\\\"b\\\\c\\nd\\te\\u0001\"");
    EXPECT_EQ(JsonWriter::quote("caf\xc3\xa9"), "\"caf\xc3\xa9\"");
    // Bytes that do not decode become surrogate escapes, one per byte.
    EXPECT_EQ(JsonWriter::quote("a\xff\xc3("), "\"a\\udcff\\udcc3(\"");
    EXPECT_EQ(JsonWriter::quote("\xed\xa0\x80"), "\"\\udced\\udca0\\udc80\"") << "encoded surrogates are invalid";
}

TEST(Json, Structure) {
    std::string out;
    JsonWriter w(out, false);
    w.beginObject().field("n", int64_t(-3)).field("ok", true).key("list").beginArray();
    w.value("x").beginObject().endObject().beginArray().endArray().null();
    w.endArray().endObject();
    EXPECT_EQ(out, R"({"n":-3,"ok":true,"list":["x",{},[],null]})");
}
