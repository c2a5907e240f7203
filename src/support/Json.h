#pragma once
// A small streaming JSON writer for the command-line tool's machine output.
// Strings are byte strings: bytes that are not valid UTF-8 are written as the
// escape \udcXX (Python's "surrogateescape"), so a reader can rebuild them.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vessora {

class JsonWriter {
public:
    explicit JsonWriter(std::string& out, bool pretty = true) : out_(out), pretty_(pretty) {}

    JsonWriter& beginObject();
    JsonWriter& endObject();
    JsonWriter& beginArray();
    JsonWriter& endArray();
    JsonWriter& key(std::string_view name);
    JsonWriter& value(std::string_view text);
    JsonWriter& value(const char* text) { return value(std::string_view(text)); }
    JsonWriter& value(const std::string& text) { return value(std::string_view(text)); }
    JsonWriter& value(int64_t number);
    JsonWriter& value(int number) { return value(int64_t(number)); }
    JsonWriter& value(uint64_t number);
    JsonWriter& value(double number);
    JsonWriter& value(bool flag);
    JsonWriter& null();

    // key + value in one call.
    template <typename T> JsonWriter& field(std::string_view name, const T& v) { return key(name).value(v); }

    static std::string quote(std::string_view bytes);
    // `bytes` as a JSON string appended to `out`. With `rawBytes` every byte
    // but the quote, the backslash and control characters is written as it
    // is (names in scan exports are bytes, as other tools write them);
    // otherwise bytes that are not UTF-8 become \udcXX and DEL is escaped too.
    static void appendQuoted(std::string& out, std::string_view bytes, bool rawBytes = false);

private:
    void beforeValue();
    JsonWriter& open(char bracket);
    JsonWriter& close(char bracket);
    void newline();
    std::string& out_;
    bool pretty_;
    std::vector<bool> first_; // per open container: nothing written in it yet
    bool afterKey_ = false;
};

} // namespace vessora
