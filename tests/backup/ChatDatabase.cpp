#include "ChatDatabase.h"

#include "TestSupport.h"
#include "support/Paths.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <filesystem>

#include <stdexcept>

namespace vessora::test {
namespace {

void exec(sqlite3* db, const char* sql) {
    char* error = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
        std::string message = std::string("sqlite: ") + (error ? error : "?");
        sqlite3_free(error);
        throw std::runtime_error(message);
    }
}

// An SQL literal: NULL, or the bytes in hex as a blob or a text.
std::string literal(const std::optional<std::string>& value, bool blob = false) {
    if (!value) return "NULL";
    std::string hex = "X'";
    for (unsigned char c : *value) hex += "0123456789ABCDEF"[c >> 4], hex += "0123456789ABCDEF"[c & 15];
    return blob ? hex + "'" : "CAST(" + hex + "' AS TEXT)";
}

} // namespace

ChatDatabase::ChatDatabase(const std::string& path) {
    makeDirs(Paths::parent(path));
    if (sqlite3_open(path.c_str(), &db_) != SQLITE_OK) throw std::runtime_error("sqlite: cannot open " + path);
    exec(db_, "CREATE TABLE chat (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, guid TEXT, "
              "chat_identifier TEXT, service_name TEXT, display_name TEXT);"
              "CREATE TABLE message (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, guid TEXT, text TEXT, "
              "attributedBody BLOB, service TEXT, date INTEGER, is_from_me INTEGER DEFAULT 0, "
              "cache_has_attachments INTEGER DEFAULT 0, associated_message_type INTEGER DEFAULT 0);"
              "CREATE TABLE chat_message_join (chat_id INTEGER, message_id INTEGER, message_date INTEGER, "
              "PRIMARY KEY (chat_id, message_id));");
}

ChatDatabase::~ChatDatabase() { close(); }

void ChatDatabase::close() {
    if (db_) sqlite3_close(db_);
    db_ = nullptr;
}

int64_t ChatDatabase::addChat(const std::optional<std::string>& identifier,
                              const std::optional<std::string>& displayName) {
    exec(db_, ("INSERT INTO chat (chat_identifier, display_name) VALUES (" + literal(identifier) + ", " +
               literal(displayName) + ")")
                  .c_str());
    return sqlite3_last_insert_rowid(db_);
}

int64_t ChatDatabase::addMessage(int64_t chat, const MessageRow& row) {
    exec(db_, ("INSERT INTO message (text, attributedBody, service, date, is_from_me, cache_has_attachments, "
               "associated_message_type) VALUES (" +
               literal(row.text) + ", " + literal(row.attributedBody, true) + ", " + literal(row.service) + ", " +
               std::to_string(row.date) + ", " + std::to_string(int(row.fromMe)) + ", " +
               std::to_string(row.attachments) + ", " + std::to_string(row.associatedType) + ")")
                  .c_str());
    const int64_t message = sqlite3_last_insert_rowid(db_);
    exec(db_, ("INSERT INTO chat_message_join (chat_id, message_id) VALUES (" + std::to_string(chat) + ", " +
               std::to_string(message) + ")")
                  .c_str());
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

std::map<std::string, std::string> snapshot(const std::string& root, bool times) {
    std::map<std::string, std::string> out;
    auto add = [&](const std::string& path) {
        struct stat st;
        if (::lstat(path.c_str(), &st) != 0) return;
        std::string& s = out[path.substr(root.size())];
        s = std::to_string(times ? st.st_mode : st.st_mode & S_IFMT) + " " + std::to_string(st.st_size);
        if (times)
            for (const timespec& t : {st.st_mtim, st.st_ctim})
                s += " " + std::to_string(t.tv_sec) + "." + std::to_string(t.tv_nsec);
        if (S_ISREG(st.st_mode)) s += " " + readText(path);
        if (S_ISLNK(st.st_mode)) s += " -> " + std::filesystem::read_symlink(path).string();
    };
    add(root);
    std::error_code error;
    for (std::filesystem::recursive_directory_iterator it(root, error), end; !error && it != end; it.increment(error))
        add(it->path().string());
    return out;
}

} // namespace vessora::test
