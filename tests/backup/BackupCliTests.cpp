// The vessora tool's backup and messages-export commands, run as a user would.

#include "ChatDatabase.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <unistd.h>

using namespace vessora;
using namespace vessora::test;
using namespace std::string_literals;

namespace {

// Messages per conversation in the sample database, as its rows were written.
const std::map<std::string, int> kSampleCounts = {{"Family", 3}, {"+15550100", 2}};

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
    EXPECT_EQ(runCli({"backup", "--into", dir / "Backups", "--label", "Messages", messages}, &output), 0) << output;
    const auto folders = listFolder(dir / "Backups");
    ASSERT_EQ(folders.size(), 1u);
    const std::string dated = dir / ("Backups/" + folders[0]);
    EXPECT_EQ(listFolder(dated), (std::vector<std::string>{"Messages", "index.html"}));
    EXPECT_EQ(snapshot(dated + "/Messages", false), snapshot(messages, false));
    for (const std::string& text :
         {"Backup folder: " + dated + "\n", "  verified  "s, "Messages transcript: " + dated + "/index.html"})
        EXPECT_NE(output.find(text), std::string::npos) << output;

    EXPECT_EQ(countsInDocument(readText(dated + "/index.html")), kSampleCounts);

    EXPECT_EQ(snapshot(messages), originals) << "the originals are exactly as they were";
}

TEST(BackupCommand, FailuresUsageAndTheDefaultFolder) {
    TempDir dir;
    const std::string file = writeText(dir / "notes.txt", "keep me");
    std::string output;
    EXPECT_EQ(runCli({"backup", "--into", dir / "B", "--label", "Mixed", file, dir / "missing"}, &output), 1);
    EXPECT_NE(output.find("  failed    " + dir / "missing" + ": "), std::string::npos) << output;
    EXPECT_TRUE(output.find("Copied 1 of 2 items") != std::string::npos &&
                output.find("Messages transcript") == std::string::npos)
        << output;
    EXPECT_EQ(readText(file), "keep me");

    EXPECT_EQ(runCli({"backup", file}, &output), 2) << "no label";

    ScopedEnv home("HOME", dir / "home"), xdg("XDG_CONFIG_HOME", std::nullopt);
    EXPECT_EQ(runCli({"backup", "--label", "Notes", file}, &output), 0) << output;
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

    EXPECT_EQ(runCli({"messages-export", db, "--out", dir / "out.html"}, &output), 0) << output;
    EXPECT_EQ(countsInDocument(readText(dir / "out.html")), kSampleCounts);
    EXPECT_NE(output.find("Wrote 2 conversations and 5 messages to " + dir / "out.html"), std::string::npos);

    EXPECT_EQ(runCli({"messages-export", db, "--out", db}, &output), 1);
    EXPECT_NE(output.find("is the database itself"), std::string::npos) << output;
    EXPECT_EQ(runCli({"messages-export", db, "--out", dir / "./chat.db"}, &output), 1);
    EXPECT_EQ(snapshot(db), before);

    const std::string notDb = writeText(dir / "plain.db", "plain text");
    EXPECT_EQ(runCli({"messages-export", notDb, "--out", dir / "x.html"}, &output), 1);
    EXPECT_TRUE(output.find("no messages could be read") != std::string::npos && !exists(dir / "x.html")) << output;
    EXPECT_EQ(runCli({"messages-export"}, &output), 2);
}
