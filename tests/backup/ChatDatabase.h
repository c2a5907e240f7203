#pragma once
// Fixtures the backup tests share: a real Messages-style SQLite database with
// the tables and columns the transcript reads, built row by row, and a record
// of a tree to prove originals untouched.

#include <cstdint>
#include <map>
#include <optional>
#include <string>

struct sqlite3;

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
    sqlite3* db_ = nullptr;
};

// An archived attributed string as Messages stores it, holding `text`; the
// length is written in one byte below 128 and as 0x81 plus two bytes above.
std::string attributedBody(const std::string& text);

// A database with a few conversations of each kind the transcript handles.
void writeSampleChatDatabase(const std::string& path);

// Every item below `root` (keys relative to it) with its kind, size and bytes
// or link target; with `times`, also its full mode and modification and change
// times: everything a backup must leave as it was.
std::map<std::string, std::string> snapshot(const std::string& root, bool times = true);

} // namespace vessora::test
