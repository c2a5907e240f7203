// The vessora tool's backup and messages-export commands, run as a user would.

#include "ChatDatabase.h"
#include "TestSupport.h"

#include "support/Paths.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <regex>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace vessora;
using namespace vessora::test;

namespace {

std::vector<std::string> listFolder(const std::string& path) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

// Messages per conversation name, counted straight from the database with
// SQL of the test's own.
std::map<std::string, int> countsInDatabase(const std::string& path) {
    std::map<std::string, int> counts;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) return counts;
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db,
                       "SELECT COALESCE(NULLIF(c.display_name,''), NULLIF(c.chat_identifier,''), 'Unknown'), "
                       "COUNT(*) FROM message m JOIN chat_message_join j ON j.message_id = m.ROWID "
                       "JOIN chat c ON c.ROWID = j.chat_id WHERE m.associated_message_type = 0 AND "
                       "(COALESCE(m.text,'') <> '' OR m.attributedBody IS NOT NULL OR m.cache_has_attachments <> 0) "
                       "GROUP BY 1",
                       -1, &s, nullptr);
    while (s && sqlite3_step(s) == SQLITE_ROW)
        counts[reinterpret_cast<const char*>(sqlite3_column_text(s, 0))] = sqlite3_column_int(s, 1);
    sqlite3_finalize(s);
    sqlite3_close(db);
    return counts;
}

std::map<std::string, int> countsInDocument(const std::string& html) {
    std::map<std::string, int> counts;
    std::regex entry("<span class=\"who\"><b>([^<]*)</b><i>([0-9]+) messages</i>");
    for (auto it = std::sregex_iterator(html.begin(), html.end(), entry); it != std::sregex_iterator(); ++it)
        counts[(*it)[1]] = std::stoi((*it)[2]);
    return counts;
}

} // namespace

TEST(BackupCommand, BacksUpAMessagesFolderWithATranscript) {
    TempDir dir;
    const std::string messages = dir / "fixture/Library/Messages";
    writeSampleChatDatabase(messages + "/chat.db");
    writeFile(messages + "/Attachments/00/IMG_0001.heic", 120'000, 'p');
    const auto originals = snapshot(messages);

    std::string output;
    int status =
        runProgram({VESSORA_CLI, "backup", "--into", dir / "Backups", "--label", "Messages", messages}, &output);
    EXPECT_EQ(status, 0) << output;

    const auto folders = listFolder(dir / "Backups");
    ASSERT_EQ(folders.size(), 1u);
    EXPECT_TRUE(std::regex_match(folders[0], std::regex("Messages [0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{4}")));
    const std::string dated = dir / ("Backups/" + folders[0]);
    EXPECT_EQ(listFolder(dated), (std::vector<std::string>{"Messages", "index.html"}));
    EXPECT_EQ(snapshot(dated + "/Messages", false), snapshot(messages, false));
    EXPECT_NE(output.find("Backup folder: " + dated + "\n"), std::string::npos) << output;
    EXPECT_NE(output.find("  verified  "), std::string::npos) << output;
    EXPECT_NE(output.find(" copied of "), std::string::npos) << output;
    EXPECT_NE(output.find("Messages transcript: " + dated + "/index.html"), std::string::npos) << output;

    const std::string html = readText(dated + "/index.html");
    const auto expected = countsInDatabase(messages + "/chat.db");
    ASSERT_EQ(expected.size(), 2u);
    EXPECT_EQ(countsInDocument(html), expected);
    int total = 0;
    for (const auto& [name, n] : expected) total += n;
    size_t bubbles = 0;
    for (size_t at = 0; (at = html.find("<div class=\"bubble", at)) != std::string::npos; ++at) ++bubbles;
    EXPECT_EQ(bubbles, size_t(total));

    EXPECT_EQ(snapshot(messages), originals) << "the originals are exactly as they were";
}

TEST(BackupCommand, FailuresUsageAndTheDefaultFolder) {
    TempDir dir;
    const std::string file = writeText(dir / "notes.txt", "keep me");
    std::string output;
    EXPECT_EQ(
        runProgram({VESSORA_CLI, "backup", "--into", dir / "B", "--label", "Mixed", file, dir / "missing"}, &output),
        1);
    EXPECT_NE(output.find("  failed    " + dir / "missing" + ": "), std::string::npos) << output;
    EXPECT_NE(output.find("Copied 1 of 2 items"), std::string::npos) << output;
    EXPECT_EQ(output.find("Messages transcript"), std::string::npos);
    EXPECT_EQ(readText(file), "keep me");

    EXPECT_EQ(runProgram({VESSORA_CLI, "backup", file}, &output), 2);
    EXPECT_NE(output.find("usage: vessora backup"), std::string::npos);
    EXPECT_EQ(runProgram({VESSORA_CLI, "backup", "--label", "X", "--bogus", file}, &output), 2);

    ScopedEnv home("HOME", dir / "home");
    ScopedEnv xdg("XDG_CONFIG_HOME", std::nullopt);
    EXPECT_EQ(runProgram({VESSORA_CLI, "backup", "--label", "Notes", file}, &output), 0) << output;
    const auto folders = listFolder(dir / "home/Documents/Vessora Backups");
    ASSERT_EQ(folders.size(), 1u);
    EXPECT_EQ(readText(dir / ("home/Documents/Vessora Backups/" + folders[0] + "/notes.txt")), "keep me");
}

TEST(MessagesExportCommand, WritesTheTranscriptAndNeverOverTheDatabase) {
    TempDir dir;
    const std::string db = dir / "chat.db";
    writeSampleChatDatabase(db);
    const auto before = snapshot(db);
    std::string output;

    EXPECT_EQ(runProgram({VESSORA_CLI, "messages-export", db, "--out", dir / "out.html"}, &output), 0) << output;
    EXPECT_EQ(countsInDocument(readText(dir / "out.html")), countsInDatabase(db));
    EXPECT_NE(output.find("Wrote 2 conversations and 5 messages to " + dir / "out.html"), std::string::npos);

    // Default: index.html in the current folder.
    char previous[4096];
    ASSERT_TRUE(::getcwd(previous, sizeof previous));
    ASSERT_EQ(::chdir(dir.path().c_str()), 0);
    int status = runProgram({VESSORA_CLI, "messages-export", "chat.db"}, &output);
    ASSERT_EQ(::chdir(previous), 0);
    EXPECT_EQ(status, 0) << output;
    EXPECT_EQ(readText(dir / "index.html"), readText(dir / "out.html"));

    EXPECT_EQ(runProgram({VESSORA_CLI, "messages-export", db, "--out", db}, &output), 1);
    EXPECT_NE(output.find("is the database itself"), std::string::npos) << output;
    EXPECT_EQ(runProgram({VESSORA_CLI, "messages-export", db, "--out", dir / "./chat.db"}, &output), 1);
    EXPECT_EQ(snapshot(db), before);

    const std::string notDb = writeText(dir / "plain.db", "plain text");
    EXPECT_EQ(runProgram({VESSORA_CLI, "messages-export", notDb, "--out", dir / "x.html"}, &output), 1);
    EXPECT_NE(output.find("no messages could be read"), std::string::npos) << output;
    EXPECT_FALSE(exists(dir / "x.html"));
    EXPECT_EQ(runProgram({VESSORA_CLI, "messages-export"}, &output), 2);
}
