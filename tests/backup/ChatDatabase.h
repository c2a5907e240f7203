#pragma once
// A real Messages-style SQLite database with the tables and columns the
// transcript reads, built row by row by a test.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

struct sqlite3;
struct sqlite3_stmt;

namespace vessora::test {

struct MessageRow {
    std::optional<std::string> text = std::nullopt;
    std::optional<std::string> attributedBody = std::nullopt; // raw bytes
    bool fromMe = false;
    int64_t date = 0;
    int64_t attachments = 0;
    std::optional<std::string> service = std::string("iMessage");
    int64_t associatedType = 0;
};

class ChatDatabase {
public:
    explicit ChatDatabase(const std::string& path);
    ~ChatDatabase();
    ChatDatabase(const ChatDatabase&) = delete;
    ChatDatabase& operator=(const ChatDatabase&) = delete;

    int64_t addChat(const std::optional<std::string>& identifier, const std::optional<std::string>& displayName);
    int64_t addMessage(int64_t chat, const MessageRow& row);
    void close();

private:
    int64_t insert(const char* sql, const std::function<void(sqlite3_stmt*)>& bind);
    sqlite3* db_ = nullptr;
};

// An archived attributed string as Messages stores it, holding `text`; the
// length is written in one byte below 128 and as 0x81 plus two bytes above.
std::string attributedBody(const std::string& text);

// A database with a few conversations of each kind the transcript handles.
void writeSampleChatDatabase(const std::string& path);

} // namespace vessora::test
