#include "ChatDatabase.h"

#include "TestSupport.h"
#include "support/Paths.h"

#include <sqlite3.h>

#include <stdexcept>

namespace vessora::test {
namespace {

void check(int rc, sqlite3* db) {
    if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW)
        throw std::runtime_error(std::string("sqlite: ") + sqlite3_errmsg(db));
}

void bindText(sqlite3_stmt* s, int index, const std::optional<std::string>& value) {
    if (value)
        sqlite3_bind_text(s, index, value->data(), int(value->size()), SQLITE_TRANSIENT);
    else
        sqlite3_bind_null(s, index);
}

} // namespace

ChatDatabase::ChatDatabase(const std::string& path) {
    makeDirs(Paths::parent(path));
    check(sqlite3_open(path.c_str(), &db_), db_);
    check(sqlite3_exec(db_,
                       "CREATE TABLE chat (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, guid TEXT, "
                       "chat_identifier TEXT, service_name TEXT, display_name TEXT);"
                       "CREATE TABLE message (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, guid TEXT, text TEXT, "
                       "attributedBody BLOB, service TEXT, date INTEGER, is_from_me INTEGER DEFAULT 0, "
                       "cache_has_attachments INTEGER DEFAULT 0, associated_message_type INTEGER DEFAULT 0);"
                       "CREATE TABLE chat_message_join (chat_id INTEGER, message_id INTEGER, message_date INTEGER, "
                       "PRIMARY KEY (chat_id, message_id));",
                       nullptr, nullptr, nullptr),
          db_);
}

ChatDatabase::~ChatDatabase() { close(); }

void ChatDatabase::close() {
    if (db_) sqlite3_close(db_);
    db_ = nullptr;
}

// Runs one INSERT with its values bound by `bind`; the new row's id.
int64_t ChatDatabase::insert(const char* sql, const std::function<void(sqlite3_stmt*)>& bind) {
    sqlite3_stmt* s = nullptr;
    check(sqlite3_prepare_v2(db_, sql, -1, &s, nullptr), db_);
    bind(s);
    int rc = sqlite3_step(s);
    sqlite3_finalize(s);
    check(rc, db_);
    return sqlite3_last_insert_rowid(db_);
}

int64_t ChatDatabase::addChat(const std::optional<std::string>& identifier,
                              const std::optional<std::string>& displayName) {
    return insert("INSERT INTO chat (chat_identifier, display_name) VALUES (?, ?)", [&](sqlite3_stmt* s) {
        bindText(s, 1, identifier);
        bindText(s, 2, displayName);
    });
}

int64_t ChatDatabase::addMessage(int64_t chat, const MessageRow& row) {
    const int64_t message = insert("INSERT INTO message (text, attributedBody, service, date, is_from_me, "
                                   "cache_has_attachments, associated_message_type) VALUES (?, ?, ?, ?, ?, ?, ?)",
                                   [&](sqlite3_stmt* s) {
                                       bindText(s, 1, row.text);
                                       if (row.attributedBody)
                                           sqlite3_bind_blob(s, 2, row.attributedBody->data(),
                                                             int(row.attributedBody->size()), SQLITE_TRANSIENT);
                                       bindText(s, 3, row.service);
                                       sqlite3_bind_int64(s, 4, row.date);
                                       sqlite3_bind_int(s, 5, row.fromMe ? 1 : 0);
                                       sqlite3_bind_int64(s, 6, row.attachments);
                                       sqlite3_bind_int64(s, 7, row.associatedType);
                                   });
    insert("INSERT INTO chat_message_join (chat_id, message_id) VALUES (?, ?)", [&](sqlite3_stmt* s) {
        sqlite3_bind_int64(s, 1, chat);
        sqlite3_bind_int64(s, 2, message);
    });
    return message;
}

std::string attributedBody(const std::string& text) {
    std::string data("\x04\x0bstreamtyped\x81\xe8\x03\x84\x01@\x84\x84\x84\x12NSAttributedString\x00\x84\x84\x08"
                     "NSObject\x00\x85\x92\x84\x84\x84\x08NSString\x01\x94\x84\x01+",
                     73);
    if (text.size() < 0x80) {
        data.push_back(char(text.size()));
    } else {
        data.push_back(char(0x81));
        data.push_back(char(text.size() & 0xff));
        data.push_back(char(text.size() >> 8));
    }
    data += text;
    data += std::string("\x86\x84\x02iI\x01\x00\x00\x00\x00\x86", 11);
    return data;
}

void writeSampleChatDatabase(const std::string& path) {
    ChatDatabase db(path);
    int64_t family = db.addChat("chat1001", "Family");
    db.addMessage(family, {.text = "Dinner at 7?", .date = 700'000'000});
    db.addMessage(family, {.text = "Yes\nsee you", .fromMe = true, .date = 700'000'060'000'000'000});
    db.addMessage(family, {.text = "Loved \"Yes\"", .date = 700'000'090, .associatedType = 2000});
    db.addMessage(family, {.text = std::nullopt, .date = 700'086'400, .attachments = 1});
    int64_t bob = db.addChat("+15550100", std::nullopt);
    db.addMessage(bob, {.text = std::nullopt, .attributedBody = attributedBody("Call me"), .date = 700'100'000});
    db.addMessage(bob, {.text = "On my way", .fromMe = true, .date = 700'100'100, .service = "SMS"});
}

} // namespace vessora::test
