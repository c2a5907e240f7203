// The Messages transcript's decoders and escaping: a decoded body is valid
// UTF-8 taken from the column's bytes, hex decoding inverts hex encoding,
// escaped text holds no markup and unescapes to the original, and any stored
// date, however large, gives a finite moment and a document.

#include "FuzzCheck.h"
#include "backup/MessagesExport.h"
#include "support/Utf8.h"

#include <string>

using namespace vessora;
using namespace vessora::MessagesExport;

namespace {
std::string unescape(std::string_view html) {
    static const std::pair<std::string_view, char> entities[] = {
        {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&#39;", '\''}};
    std::string out;
    for (size_t i = 0; i < html.size();) {
        bool matched = false;
        for (const auto& [entity, c] : entities)
            if (html.substr(i).starts_with(entity)) {
                out += c;
                i += entity.size();
                matched = true;
                break;
            }
        if (!matched) {
            FUZZ_CHECK(html[i] != '&');
            out += html[i++];
        }
    }
    return out;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view in = fuzz::text(data, size);

    if (auto body = decodeAttributedBody(in)) {
        FUZZ_CHECK(!body->empty() && Utf8::isValid(*body));
        FUZZ_CHECK(in.find(*body) != std::string_view::npos);
    }

    auto [haystack, needle] = fuzz::halves(in);
    auto at = indexOf(haystack, needle);
    size_t expected = needle.empty() ? std::string_view::npos : haystack.find(needle);
    FUZZ_CHECK(at ? *at == expected : expected == std::string_view::npos);

    if (auto bytes = dataFromHex(in)) FUZZ_CHECK(bytes->size() * 2 == in.size());
    std::string hex;
    for (size_t i = 0; i < in.size(); ++i) {
        static const char* lower = "0123456789abcdef";
        static const char* upper = "0123456789ABCDEF";
        const char* digits = i % 2 ? lower : upper;
        unsigned char c = static_cast<unsigned char>(in[i]);
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    auto back = dataFromHex(hex);
    FUZZ_CHECK(back && *back == in);

    const std::string escaped = escapeHtml(in);
    FUZZ_CHECK(escaped.find_first_of("<>\"'") == std::string::npos);
    FUZZ_CHECK(unescape(escaped) == in);

    // A one-message transcript: the stored date is taken from the input too.
    std::string_view rest = in;
    const long long raw = fuzz::take<long long>(rest);
    Conversation conversation{std::string(haystack.substr(0, 64)), {}};
    conversation.messages.push_back(
        {std::string(needle.substr(0, 256)), bool(raw & 1), dateFromStored(raw), false, "SMS"});
    const std::string document = html({conversation}, DateStyle{"en_US", "UTC"});
    FUZZ_CHECK(!document.empty());
    if (!conversation.messages[0].text.empty()) {
        // The text escaped, its line feeds drawn as line breaks.
        std::string body = escapeHtml(conversation.messages[0].text);
        for (size_t at = 0; (at = body.find('\n', at)) != std::string::npos; at += 4) body.replace(at, 1, "<br>");
        FUZZ_CHECK(document.find(body) != std::string::npos);
    }
    return 0;
}
