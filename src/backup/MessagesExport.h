#pragma once
// Turns a copy of a Messages database into one self-contained HTML transcript:
// a conversation list on the left, the chosen conversation's bubbles on the
// right. The database is opened read-only; callers pass the backup's copy,
// never the live file.

#include "support/Date.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vessora::MessagesExport {

struct Message {
    std::string text; // empty only when the message has an attachment
    bool fromMe = false;
    Date date;
    bool hasAttachment = false;
    std::string service; // as stored ("SMS", "iMessage", "sms"...)
};

struct Conversation {
    std::string name; // display name, else identifier, else "Unknown"
    std::vector<Message> messages;
};

// How dates are written into the document. Empty fields mean the user's own
// locale and time zone; tests name fixed ones.
struct DateStyle {
    std::string locale;   // ICU locale name, e.g. "en_US"
    std::string timeZone; // Olson id, e.g. "UTC"
};

// The conversations of the database at `path`, each holding at most
// `limitPerChat` messages, newest conversation first. Absent when the database
// cannot be opened or queried, or no message is usable.
std::optional<std::vector<Conversation>> read(const std::string& path, size_t limitPerChat);

// The whole transcript document.
std::string html(const std::vector<Conversation>& conversations);
std::string html(const std::vector<Conversation>& conversations, const DateStyle& style);

// The first string inside an archived attributed-string column, or absent.
std::optional<std::string> decodeAttributedBody(std::string_view data);

// Position of the first occurrence of `needle` in `haystack`; absent when the
// needle is empty, longer than the haystack, or not there.
std::optional<size_t> indexOf(std::string_view haystack, std::string_view needle);

// Bytes from two hexadecimal digits each (either case); absent for an odd
// length or any other character. "" gives empty data.
std::optional<std::string> dataFromHex(std::string_view hex);

// The document's escaping of every text it holds.
std::string escapeHtml(std::string_view text);

// The stored date column: seconds since 2001-01-01 UTC, or nanoseconds when
// above 10^12.
Date dateFromStored(long long raw);

} // namespace vessora::MessagesExport
