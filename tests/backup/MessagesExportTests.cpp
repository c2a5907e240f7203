#include "ChatDatabase.h"
#include "TestSupport.h"

#include "backup/MessagesExport.h"

#include <gtest/gtest.h>

#include <regex>

using namespace vessora;
using namespace vessora::test;
namespace ME = vessora::MessagesExport;

namespace {

const ME::DateStyle kUtc{"en_US", "UTC"};

size_t occurrences(const std::string& text, const std::string& needle) {
    size_t n = 0;
    for (size_t at = 0; (at = text.find(needle, at)) != std::string::npos; at += needle.size()) ++n;
    return n;
}

// Every kind of row the transcript must handle, over seven chats.
class MessagesDatabase : public ::testing::Test {
protected:
    void SetUp() override {
        ChatDatabase db(path);
        int64_t quoted = db.addChat("+15550001", "'Quote <&> \"Club\"");
        db.addMessage(quoted, {.text = "Dinner <b>&</b> 'drinks' \"later\"?", .date = 700'000'000});
        db.addMessage(quoted, {.text = "Loved a message", .date = 700'000'100, .associatedType = 2000});
        db.addMessage(quoted, {.text = std::nullopt, .date = 700'000'200, .attachments = 2});
        db.addMessage(quoted, {.text = "photo caption", .date = 700'000'300, .attachments = 1});
        db.addMessage(quoted, {.text = "", .date = 700'000'350}); // nothing to show: dropped
        // Later messages stored in nanoseconds, as newer databases do.
        db.addMessage(quoted, {.text = "line one\nline two\n", .fromMe = true, .date = 700'000'400'000'000'000});
        db.addMessage(quoted, {.text = "next day", .date = 700'086'400'000'000'000});

        int64_t bodies = db.addChat("bob@example.com", std::nullopt);
        db.addMessage(bodies, {.text = std::nullopt, .attributedBody = attributedBody("short body"), .date = 1});
        db.addMessage(bodies,
                      {.text = std::nullopt, .attributedBody = attributedBody(std::string(300, 'L')), .date = 2});
        db.addMessage(bodies, {.text = std::nullopt, .attributedBody = std::string("no marker"), .date = 3});
        db.addMessage(bodies, {.text = "sent by sms", .fromMe = true, .date = 4, .service = "sms"});
        db.addMessage(bodies, {.text = "sent by iMessage", .fromMe = true, .date = 5});
        db.addMessage(bodies, {.text = "received by SMS", .date = 6, .service = "SMS"});

        int64_t nameless = db.addChat(std::nullopt, std::nullopt);
        db.addMessage(nameless, {.text = "who is this", .date = 1'000'000'000'000});

        int64_t clubA = db.addChat("club-a", "Book Club");
        db.addMessage(clubA, {.text = "a1", .date = 100});
        db.addMessage(clubA, {.text = "a2", .date = 300});
        db.addMessage(clubA, {.text = "a3", .date = 500});
        int64_t clubB = db.addChat("club-b", "Book Club");
        db.addMessage(clubB, {.text = "b1", .date = 50});
        db.addMessage(clubB, {.text = "b2", .date = 400});

        int64_t onlyReactions = db.addChat("reactions", "Only Reactions");
        db.addMessage(onlyReactions, {.text = "Liked", .date = 9, .associatedType = 2001});

        int64_t precise = db.addChat("nanos", "Nanoseconds");
        db.addMessage(precise, {.text = "exactly 10^12 + 1", .date = 1'000'000'000'001});
    }

    TempDir dir;
    std::string path = dir / "chat.db";
};

const ME::Conversation* named(const std::vector<ME::Conversation>& list, const std::string& name) {
    for (const auto& c : list)
        if (c.name == name) return &c;
    return nullptr;
}

} // namespace

TEST_F(MessagesDatabase, ReadsConversationsNamesDatesAndBodiesWithoutChangingTheDatabase) {
    const auto before = snapshot(dir.path());
    auto read = ME::read(path, 5000);
    ASSERT_TRUE(read);
    std::vector<std::string> names;
    for (const auto& c : *read) names.push_back(c.name);
    // Newest last message first; chats sharing a display name become one.
    EXPECT_EQ(names, (std::vector<std::string>{"Unknown", "'Quote <&> \"Club\"", "Nanoseconds", "Book Club",
                                               "bob@example.com"}));
    const auto* quoted = named(*read, "'Quote <&> \"Club\"");
    ASSERT_TRUE(quoted);
    // Reaction and empty row left out; a text with line feeds arrives whole.
    std::vector<std::tuple<std::string, bool, bool, std::string>> rows;
    for (const auto& m : quoted->messages) rows.emplace_back(m.text, m.fromMe, m.hasAttachment, Dates::iso8601(m.date));
    EXPECT_EQ(rows, (std::vector<std::tuple<std::string, bool, bool, std::string>>{
                        {"Dinner <b>&</b> 'drinks' \"later\"?", false, false, "2023-03-08T20:26:40Z"},
                        {"", false, true, "2023-03-08T20:30:00Z"},
                        {"photo caption", false, true, "2023-03-08T20:31:40Z"},
                        {"line one\nline two\n", true, false, "2023-03-08T20:33:20Z"}, // stored in nanoseconds
                        {"next day", false, false, "2023-03-09T20:26:40Z"}}));
    // 10^12 is still seconds (far beyond the clock's range, so held at its edge);
    // one more is nanoseconds.
    EXPECT_GT(ME::dateFromStored(1'000'000'000'000), ME::dateFromStored(4'000'000'000));
    EXPECT_EQ(Dates::iso8601(named(*read, "Nanoseconds")->messages[0].date), "2001-01-01T00:16:40Z");
    EXPECT_EQ(Dates::iso8601(ME::dateFromStored(-60)), "2000-12-31T23:59:00Z");
    // Attributed bodies in both length forms; the one without a string is dropped.
    const auto* bob = named(*read, "bob@example.com");
    ASSERT_TRUE(bob && bob->messages.size() == 5u);
    EXPECT_EQ(std::tie(bob->messages[0].text, bob->messages[1].text), std::tuple("short body", std::string(300, 'L')));
    EXPECT_EQ(snapshot(dir.path()), before) << "no journal, no write-ahead log, no change";
    // Merged chats keep their order; the limit holds for each conversation.
    for (size_t limit : {5000, 2}) {
        auto limited = ME::read(path, limit);
        ASSERT_TRUE(limited);
        std::vector<std::string> texts;
        for (const auto& m : named(*limited, "Book Club")->messages) texts.push_back(m.text);
        const std::vector<std::string> all{"a1", "a2", "a3", "b1", "b2"};
        EXPECT_EQ(texts, std::vector<std::string>(all.begin(), all.begin() + std::min(limit, all.size())));
        for (const auto& c : *limited) EXPECT_LE(c.messages.size(), limit) << c.name;
    }
}

TEST(MessagesRead, AbsentWhenNothingIsUsable) {
    TempDir dir;
    EXPECT_FALSE(ME::read(dir / "missing.db", 10) || exists(dir / "missing.db")); // read-only: never created
    EXPECT_FALSE(ME::read(writeText(dir / "text.db", "this is not a database, just some text"), 10));
    {
        ChatDatabase empty(dir / "empty.db");
        int64_t chat = empty.addChat("x", "X");
        empty.addMessage(chat, {.text = "reaction", .date = 1, .associatedType = 3000});
        empty.addMessage(chat, {.text = "", .date = 2});
    }
    EXPECT_FALSE(ME::read(dir / "empty.db", 10));
}

TEST_F(MessagesDatabase, DocumentEscapesEverywhereAndDrawsEachKindOfBubble) {
    auto read = ME::read(path, 5000);
    ASSERT_TRUE(read);
    const std::string doc = ME::html(*read, kUtc);

    EXPECT_NE(doc.find("5 conversations \u00b7 17 messages"), std::string::npos);
    // The quoted chat is second: sidebar, avatar and header all escaped.
    EXPECT_NE(doc.find("<b>&#39;Quote &lt;&amp;&gt; &quot;Club&quot;</b><i>5 messages</i>"), std::string::npos);
    EXPECT_NE(doc.find(">Dinner &lt;b&gt;&amp;&lt;/b&gt; &#39;drinks&#39; &quot;later&quot;?</div>"),
              std::string::npos);
    // Line feeds inside a text become line breaks.
    EXPECT_NE(doc.find(">line one<br>line two<br></div>\n  </div>\n"), std::string::npos);
    EXPECT_NE(doc.find("\"><i class=\"att\">Attachment</i></div>\n"), std::string::npos);
    EXPECT_NE(doc.find(">photo caption<i class=\"clip\">Attachment</i></div>"), std::string::npos);
    // Only messages sent by SMS are green, whatever the case of the service.
    EXPECT_NE(doc.find("<div class=\"row me\">\n    <div class=\"bubble sms\" title=\""), std::string::npos);
    EXPECT_EQ(occurrences(doc, "bubble sms\""), 1u);
    // Day separators once per day within a conversation.
    for (const char* day : {"<span>Wednesday, 8 March 2023</span>", "<span>Thursday, 9 March 2023</span>"})
        EXPECT_EQ(occurrences(doc, day), 1u) << day;
}

TEST(MessagesDocument, SmallTranscriptLayoutLocaleAndAttributedBodies) {
    using namespace std::chrono;
    const Date evening = ME::dateFromStored(700'000'000); // Wed 8 March 2023 20:26:40 UTC
    std::vector<ME::Conversation> list{
        {"zoë", {{"hi", false, evening, false, "iMessage"}, {"", true, evening + hours(24), true, "SMS"}}}};
    const std::string doc = ME::html(list, kUtc);
    EXPECT_TRUE(std::regex_search(doc, std::regex("<span class=\"when\">8:26\\s?(\u202f)?PM</span>"))) << doc;
    // The same instant in another zone and locale.
    const std::string tokyo = ME::html(list, {"de_DE", "Asia/Tokyo"});
    EXPECT_NE(tokyo.find("<span>Donnerstag, 9 März 2023</span>"), std::string::npos);
    EXPECT_NE(tokyo.find("title=\"05:26\">hi"), std::string::npos);
    // Attributed bodies decode only when whole and valid.
    const std::string head = "xxNSString\x01\x94\x84\x01+";

    EXPECT_FALSE(ME::decodeAttributedBody("no marker at all"));
    EXPECT_FALSE(ME::decodeAttributedBody(std::string("NSString") + std::string(16, '.') + "+\x01x"));
    EXPECT_FALSE(ME::decodeAttributedBody(head + std::string(1, '\0') + "abc")); // length 0
    EXPECT_FALSE(ME::decodeAttributedBody(head + "\x09short"));                  // runs past the end
    EXPECT_FALSE(ME::decodeAttributedBody(head + "\x02\xc3\x28"));               // invalid UTF-8
    EXPECT_EQ(ME::decodeAttributedBody(head + "\x02\xc3\xa9"), "\xc3\xa9");
}
