#include "backup/MessagesExport.h"

#include "support/Icu.h"
#include "support/Utf8.h"

#include <sqlite3.h>
#include <unicode/ubrk.h>
#include <unicode/udat.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <charconv>
#include <map>
#include <memory>

namespace vessora::MessagesExport {
namespace {

// Ordinary messages only (reactions and other associated messages carry a
// non-zero associated type), each once per chat it belongs to.
constexpr const char* kQuery = "SELECT c.display_name, c.chat_identifier, m.is_from_me, m.date,\n"
                               "       COALESCE(m.text,''), COALESCE(hex(m.attributedBody),''),\n"
                               "       COALESCE(m.cache_has_attachments,0), COALESCE(m.service,'')\n"
                               "FROM message m\n"
                               "JOIN chat_message_join cmj ON cmj.message_id = m.ROWID\n"
                               "JOIN chat c ON c.ROWID = cmj.chat_id\n"
                               "WHERE m.associated_message_type = 0\n"
                               "ORDER BY c.ROWID, m.date;";

constexpr long long kNanosecondThreshold = 1'000'000'000'001LL;
// Seconds from 1970-01-01 to 2001-01-01, the database's reference date.
constexpr long long kReferenceEpoch = 978'307'200LL;
// Dates are kept within a few centuries of the reference so a corrupt column
// cannot overflow the clock's nanosecond count.
constexpr long long kSecondsLimit = 8'000'000'000LL;

long long integerOr0(std::string_view text) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    long long value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return 0;
    return value;
}

std::string columnText(sqlite3_stmt* statement, int column) {
    const auto* bytes = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
    if (!bytes) return {};
    return std::string(bytes, size_t(sqlite3_column_bytes(statement, column)));
}

struct DatabaseCloser {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
struct StatementFinalizer {
    void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};

// Builds conversations from the query's rows in the order they come.
class Grouper {
public:
    explicit Grouper(size_t limit) : limit_(limit) {}

    void add(const std::string (&f)[8]) {
        std::string name = !f[0].empty() ? f[0] : !f[1].empty() ? f[1] : "Unknown";
        std::string text;
        if (!f[4].empty()) {
            text = f[4];
        } else if (!f[5].empty()) {
            if (auto data = dataFromHex(f[5])) text = decodeAttributedBody(*data).value_or("");
        }
        bool hasAttachment = integerOr0(f[6]) != 0;
        if (text.empty() && !hasAttachment) return;

        auto [it, inserted] = byName_.try_emplace(name, order_.size());
        if (inserted) order_.push_back(Conversation{name, {}});
        Conversation& conversation = order_[it->second];
        if (conversation.messages.size() >= limit_) return;
        conversation.messages.push_back(
            Message{std::move(text), f[2] == "1", dateFromStored(integerOr0(f[3])), hasAttachment, f[7]});
    }

    std::optional<std::vector<Conversation>> finish() {
        if (order_.empty()) return std::nullopt;
        auto last = [](const Conversation& c) { return c.messages.empty() ? Date::min() : c.messages.back().date; };
        std::stable_sort(order_.begin(), order_.end(),
                         [&](const Conversation& a, const Conversation& b) { return last(a) > last(b); });
        return std::move(order_);
    }

private:
    size_t limit_;
    std::map<std::string, size_t> byName_;
    std::vector<Conversation> order_;
};

// Both date formatters of the document, in one locale and time zone.
class DateTexts {
public:
    explicit DateTexts(const DateStyle& style) {
        // No locale ID is ICU's default locale, no zone ID the default time zone.
        const char* locale = style.locale.empty() ? nullptr : style.locale.c_str();
        const std::u16string zone = Icu::fromUtf8(style.timeZone);
        const UChar* zoneId = style.timeZone.empty() ? nullptr : zone.data();
        static constexpr std::u16string_view pattern = u"EEEE, d MMMM yyyy";
        UErrorCode status = U_ZERO_ERROR;
        day_.reset(udat_open(UDAT_PATTERN, UDAT_PATTERN, locale, zoneId, int32_t(zone.size()), pattern.data(),
                             int32_t(pattern.size()), &status));
        if (U_FAILURE(status)) day_.reset();
        status = U_ZERO_ERROR;
        time_.reset(udat_open(UDAT_SHORT, UDAT_NONE, locale, zoneId, int32_t(zone.size()), nullptr, -1, &status));
        if (U_FAILURE(status)) time_.reset();
    }

    std::string day(Date date) const { return format(day_.get(), date); }
    std::string time(Date date) const { return format(time_.get(), date); }

private:
    static std::string format(const UDateFormat* formatter, Date date) {
        if (!formatter) return {};
        return Icu::formatDate(formatter, date).value_or(std::string());
    }

    Icu::Owned<UDateFormat, udat_close> day_;
    Icu::Owned<UDateFormat, udat_close> time_;
};

// The upper-case form of the first user-perceived character of `name`.
std::string initial(const std::string& name) {
    if (name.empty()) return {};
    const std::u16string text = Icu::fromUtf8(name);
    UErrorCode status = U_ZERO_ERROR;
    // Characters and case in the root locale.
    Icu::Owned<UBreakIterator, ubrk_close> characters(
        ubrk_open(UBRK_CHARACTER, "", text.data(), int32_t(text.size()), &status));
    int32_t end = 1;
    if (U_SUCCESS(status) && characters) {
        ubrk_first(characters.get());
        int32_t next = ubrk_next(characters.get());
        if (next != UBRK_DONE) end = next;
    }
    const std::u16string_view first = std::u16string_view(text).substr(0, size_t(end));
    auto upper = Icu::written([first](UChar* buffer, int32_t capacity, UErrorCode* error) {
        return u_strToUpper(buffer, capacity, first.data(), int32_t(first.size()), "", error);
    });
    return Icu::toUtf8(upper ? *upper : first);
}

constexpr const char* kHead = R"(<!doctype html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Messages archive</title>
<style>
:root{--bg:#fff;--side:#f5f5f7;--rule:#e3e3e6;--ink:#1d1d1f;--ink2:#86868b;--blue:#248bf5;--green:#5bd769;--grey:#e9e9eb}
@media (prefers-color-scheme:dark){:root{--bg:#1c1c1e;--side:#000;--rule:#2c2c2e;--ink:#f5f5f7;--ink2:#98989d;--grey:#26252a}}
*{box-sizing:border-box}
html,body{height:100%;margin:0}
body{display:flex;flex-direction:row;height:100vh;background:var(--bg);color:var(--ink);font:14px/1.45 -apple-system,BlinkMacSystemFont,"Segoe UI",Roboto,"Helvetica Neue",Arial,sans-serif}
aside{flex:0 0 280px;width:280px;overflow-y:auto;background:var(--side);border-right:1px solid var(--rule);padding:10px 8px}
main{flex:1;min-width:0;display:flex}
.hdr{font-size:12px;color:var(--ink2);padding:6px 10px 12px}
.chat{display:flex;align-items:center;gap:10px;width:100%;padding:8px 10px;border:0;border-radius:9px;background:none;color:inherit;font:inherit;text-align:left;cursor:pointer}
.chat:hover{background:rgba(128,128,128,.12)}
.chat.active{background:var(--blue);color:#fff}
.chat.active .who i,.chat.active .when{color:#fff}
.avatar{flex:0 0 34px;width:34px;height:34px;border-radius:50%;background:var(--ink2);color:#fff;font-weight:700;display:flex;align-items:center;justify-content:center}
.who{flex:1;min-width:0;display:flex;flex-direction:column}
.who b{overflow:hidden;text-overflow:ellipsis;white-space:nowrap}
.who i{font-style:normal;font-size:12px;color:var(--ink2)}
.when{font-size:11px;color:var(--ink2);white-space:nowrap}
.pane{display:none;flex:1;min-width:0;height:100%;flex-direction:column}
.pane.active{display:flex}
.pane header{position:sticky;top:0;padding:14px 20px;border-bottom:1px solid var(--rule);background:var(--bg);font-weight:600}
.scroll{flex:1;overflow-y:auto;padding:16px 20px 28px}
.daysep{text-align:center;margin:18px 0 12px;font-size:11px;color:var(--ink2)}
.row{display:flex;justify-content:flex-start;margin:2px 0}
.row.me{justify-content:flex-end}
.bubble{max-width:66%;padding:7px 12px;border-radius:18px;background:var(--grey);white-space:pre-wrap;overflow-wrap:anywhere;word-wrap:break-word}
.row.me .bubble{background:var(--blue);color:#fff}
.row.me .bubble.sms{background:var(--green)}
.clip,.att{display:block;font-style:normal;font-size:11px;opacity:.75}
.clip{margin-top:3px}
</style>
</head>
<body>
<aside>
  <div class="hdr">)";

constexpr const char* kTail = R"(</main>
<script>
(function(){
  var chats=document.querySelectorAll('.chat'),panes=document.querySelectorAll('.pane');
  chats.forEach(function(button){
    button.addEventListener('click',function(){
      chats.forEach(function(other){other.classList.toggle('active',other===button);});
      var target=button.getAttribute('data-target');
      panes.forEach(function(pane){pane.classList.toggle('active',pane.id===target);});
    });
  });
})();
</script>
</body></html>)";

} // namespace

std::optional<size_t> indexOf(std::string_view haystack, std::string_view needle) {
    if (needle.empty() || needle.size() > haystack.size()) return std::nullopt;
    size_t at = haystack.find(needle);
    if (at == std::string_view::npos) return std::nullopt;
    return at;
}

std::optional<std::string> dataFromHex(std::string_view hex) {
    if (hex.size() % 2 != 0) return std::nullopt;
    auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    std::string data;
    data.reserve(hex.size() / 2);
    for (size_t i = 0; i < hex.size(); i += 2) {
        int high = digit(hex[i]), low = digit(hex[i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        data.push_back(char(high * 16 + low));
    }
    return data;
}

std::optional<std::string> decodeAttributedBody(std::string_view data) {
    auto marker = indexOf(data, "NSString");
    if (!marker) return std::nullopt;
    const size_t start = *marker + 8;
    std::optional<size_t> plus;
    for (size_t p = start; p < data.size() && p < start + 16; ++p)
        if (data[p] == '+') {
            plus = p;
            break;
        }
    if (!plus) return std::nullopt;
    const size_t p = *plus;
    if (p + 1 >= data.size()) return std::nullopt;
    const auto b = uint8_t(data[p + 1]);
    size_t length = b, textStart = p + 2;
    if (b == 0x81) {
        if (p + 4 > data.size()) return std::nullopt;
        length = size_t(uint8_t(data[p + 2])) | size_t(uint8_t(data[p + 3])) << 8;
        textStart = p + 4;
    }
    if (length == 0 || textStart + length > data.size()) return std::nullopt;
    std::string_view text = data.substr(textStart, length);
    if (!Utf8::isValid(text)) return std::nullopt;
    return std::string(text);
}

Date dateFromStored(long long raw) {
    using namespace std::chrono;
    const auto reference = system_clock::time_point(seconds(kReferenceEpoch));
    if (raw < kNanosecondThreshold) {
        long long secondsValue = std::clamp(raw, -kSecondsLimit, kSecondsLimit);
        return reference + duration_cast<system_clock::duration>(seconds(secondsValue));
    }
    // In nanoseconds: whole seconds and the remainder apart so nothing overflows.
    long long whole = std::min(raw / 1'000'000'000LL, kSecondsLimit);
    long long rest = raw % 1'000'000'000LL;
    return reference + duration_cast<system_clock::duration>(seconds(whole)) +
           duration_cast<system_clock::duration>(nanoseconds(rest));
}

std::optional<std::vector<Conversation>> read(const std::string& path, size_t limitPerChat) {
    sqlite3* raw = nullptr;
    int rc = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr);
    std::unique_ptr<sqlite3, DatabaseCloser> db(raw);
    if (rc != SQLITE_OK) return std::nullopt;
    // A database another program is writing is waited for briefly rather than
    // reported as empty at once.
    sqlite3_busy_timeout(db.get(), 2000);
    sqlite3_stmt* rawStatement = nullptr;
    if (sqlite3_prepare_v2(db.get(), kQuery, -1, &rawStatement, nullptr) != SQLITE_OK) return std::nullopt;
    std::unique_ptr<sqlite3_stmt, StatementFinalizer> statement(rawStatement);

    // Rows arrive as values, so a text holding line feeds stays one message.
    Grouper grouper(limitPerChat);
    std::string fields[8];
    while ((rc = sqlite3_step(statement.get())) == SQLITE_ROW) {
        for (int i = 0; i < 8; ++i) fields[i] = columnText(statement.get(), i);
        grouper.add(fields);
    }
    if (rc != SQLITE_DONE) return std::nullopt;
    return grouper.finish();
}

std::string escapeHtml(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string html(const std::vector<Conversation>& conversations) { return html(conversations, DateStyle{}); }

std::string html(const std::vector<Conversation>& conversations, const DateStyle& style) {
    const DateTexts dates(style);
    size_t total = 0, textBytes = 0;
    for (const auto& c : conversations) {
        total += c.messages.size();
        for (const auto& m : c.messages) textBytes += m.text.size();
    }
    std::string out;
    out.reserve(8192 + textBytes * 2 + total * 160 + conversations.size() * 400);

    out += kHead;
    out += std::to_string(conversations.size());
    out += " conversations \u00b7 ";
    out += std::to_string(total);
    out += " messages<br>Exported by Vessora</div>\n";

    for (size_t i = 0; i < conversations.size(); ++i) {
        const Conversation& c = conversations[i];
        out += "  <button class=\"chat";
        if (i == 0) out += " active";
        out += "\" data-target=\"c" + std::to_string(i);
        out += "\">\n    <span class=\"avatar\">";
        out += escapeHtml(initial(c.name));
        out += "</span>\n    <span class=\"who\"><b>";
        out += escapeHtml(c.name);
        out += "</b><i>";
        out += std::to_string(c.messages.size());
        out += " messages</i></span>\n    <span class=\"when\">";
        if (!c.messages.empty()) out += dates.time(c.messages.back().date);
        out += "</span>\n  </button>\n";
    }
    out += "</aside>\n<main>\n";

    for (size_t i = 0; i < conversations.size(); ++i) {
        const Conversation& c = conversations[i];
        out += "<section class=\"pane";
        if (i == 0) out += " active";
        out += "\" id=\"c" + std::to_string(i);
        out += "\"><header>";
        out += escapeHtml(c.name);
        out += "</header><div class=\"scroll\">\n";
        std::optional<std::string> previousDay;
        for (const Message& m : c.messages) {
            std::string day = dates.day(m.date);
            if (day != previousDay) {
                out += "  <div class=\"daysep\"><span>";
                out += escapeHtml(day);
                out += "</span></div>\n";
                previousDay = std::move(day);
            }
            out += "  <div class=\"row ";
            out += m.fromMe ? "me" : "them";
            out += "\">\n    <div class=\"bubble";
            if (m.fromMe) {
                std::string service = m.service;
                std::transform(service.begin(), service.end(), service.begin(),
                               [](unsigned char ch) { return char(ch >= 'a' && ch <= 'z' ? ch - 32 : ch); });
                if (service == "SMS") out += " sms";
            }
            out += "\" title=\"";
            out += escapeHtml(dates.time(m.date));
            out += "\">";
            if (!m.text.empty()) {
                std::string body = escapeHtml(m.text);
                for (size_t at = 0; (at = body.find('\n', at)) != std::string::npos; at += 4)
                    body.replace(at, 1, "<br>");
                out += body;
                if (m.hasAttachment) out += "<i class=\"clip\">Attachment</i>";
            } else {
                out += "<i class=\"att\">Attachment</i>";
            }
            out += "</div>\n  </div>\n";
        }
        out += "</div></section>\n";
    }
    out += kTail;
    return out;
}

} // namespace vessora::MessagesExport
