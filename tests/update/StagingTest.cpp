// Download and staging against real zip archives of signed bundles, served by
// the local HTTPS feed. The updater's temporary directory is a test folder, so
// what it leaves behind can be listed exactly. Then the unpacker on its own:
// hostile archives, some written byte by byte. A refused archive may leave part
// of itself in the folder (the updater discards it); nothing may ever land outside.

#include "UpdateTestSupport.h"

#include "support/Json.h"
#include "update/ArchiveUnpacker.h"
#include "support/Paths.h"
#include "update/Digest.h"
#include "update/UpdateLog.h"

#include <QElapsedTimer>
#include <QSignalSpy>

#include <algorithm>

#include <gtest/gtest.h>

namespace vessora::test {
namespace {

const QString badResponse = QStringLiteral("The update server did not answer properly.");
const QString checksumMismatch = QStringLiteral("The download did not match its checksum and was discarded.");
const QString unpackFailed = QStringLiteral("The update could not be unpacked.");
const QString signatureInvalid = QStringLiteral("The downloaded app is not validly signed and was discarded.");
const QString wrongTeam = QStringLiteral("The downloaded app is signed by someone else and was discarded.");

class StagingTest : public ::testing::Test {
protected:
    TempDir dir;
    std::string tmp = dir / "tmp";         // the updater's temporary directory
    std::string work = dir / "work";       // where the test builds bundles and archives
    std::string outside = dir / "outside"; // hostile archives aim here
    std::unique_ptr<ScopedEnv> tmpdir;
    const FeedServer& server = FeedServer::shared();
    const Keys& keys = Keys::shared();
    int serial = 0;

    void SetUp() override {
        makeDirs(tmp);
        makeDirs(work);
        makeDirs(outside);
        tmpdir = std::make_unique<ScopedEnv>("TMPDIR", tmp);
    }

    // A signed bundle in a folder of its own, ready to zip.
    std::string signedBundle(const std::string& name = "Vessora.app", const std::string& secret = {},
                             const std::string& team = ourTeam, const std::string& build = "11") {
        std::string folder = work + "/b" + std::to_string(++serial);
        std::string bundle = makeBundle(folder, name, "2.0", build, "/dev/null", name);
        EXPECT_TRUE(signBundle(bundle, secret.empty() ? keys.teamSecret : secret, team));
        return bundle;
    }

    // Serves `archive` with a feed offering build 11; returns the updater,
    // running build 10, after a check that must offer it.
    std::unique_ptr<Updater> offer(const std::string& archive, const std::optional<std::string>& sha256 = {},
                                   const std::string& extraKeys = {}) {
        auto u =
            makeUpdater(publishBuild("stage", archive, sha256, extraKeys), makeInstalledInfo(dir / "installed", "10"));
        u->check(false);
        EXPECT_TRUE(settle(*u));
        EXPECT_EQ(u->state(), UpdateState::available("2.0", 11, std::nullopt));
        return u;
    }

    std::string zipOf(const std::string& bundle, const std::string& extra = {}) {
        return zipBundle(bundle, work + "/a" + std::to_string(++serial) + ".zip", extra);
    }

    UpdateState stage(Updater& u) {
        u.downloadAndStage();
        EXPECT_TRUE(settle(u));
        return u.state();
    }

    // After a failed staging nothing is left in the temporary directory: the
    // archive and the refused unpack folder are both gone.
    void expectNothingLeft() {
        EXPECT_EQ(listFolder(tmp), std::vector<std::string>{});
        EXPECT_EQ(listFolder(outside), std::vector<std::string>{});
    }
};

TEST_F(StagingTest, SignedBuildIsStagedUnderItsOwnNameWithProgressAndTheArchiveRemoved) {
    // The feed's digest in upper case matches.
    std::string archive = zipOf(signedBundle("Release \n-> OK.app")), digest = *Digest::sha256OfFile(archive);
    std::transform(digest.begin(), digest.end(), digest.begin(), ::toupper);
    auto u = offer(archive, digest);
    std::vector<UpdateState> states;
    QObject::connect(u.get(), &Updater::stateChanged, [&](const UpdateState& s) { states.push_back(s); });
    QElapsedTimer timer;
    timer.start();
    u->downloadAndStage();
    EXPECT_EQ(u->state(), UpdateState::downloading(0));
    u->check(false); // ignored while downloading
    ASSERT_TRUE(settle(*u));
    EXPECT_EQ(u->state(), UpdateState::readyToRelaunch());
    // Progress only grows, stays within 0 to 1, and changes at most ten times a second.
    ASSERT_GE(states.size(), 2u);
    EXPECT_LE(int64_t(states.size()), timer.elapsed() / 100 + 2);
    for (size_t i = 1; i + 1 < states.size(); ++i)
        EXPECT_TRUE(states[i].progress() >= states[i - 1].progress() && states[i].progress() <= 1);
    // Under a name of our own, whatever the archive called it; nothing else left.
    ASSERT_TRUE(u->staged());
    auto left = listFolder(tmp);
    ASSERT_EQ(left.size(), 1u) << testing::PrintToString(left);
    EXPECT_EQ(*u->staged(), tmp + "/" + left[0] + "/" + Updater::stagedName);
    EXPECT_EQ(listFolder(tmp + "/" + left[0]), std::vector<std::string>{Updater::stagedName});

    // The download reports the share received, or that it is unknown.
    std::string plain = zipOf(signedBundle());
    const int64_t size = int64_t(readText(plain).size());
    struct Case {
        bool serverGivesLength;
        std::string feedKeys;
        double last;
    } cases[] = {{true, "", 1.0}, {false, ", \"length\": " + std::to_string(size), 1.0}, {false, "", -1.0}};
    for (const Case& c : cases) {
        auto u = offer(plain, {}, c.feedKeys);
        if (!c.serverGivesLength) server.put(u->pending()->url.path().mid(1).toStdString() + ".nolength", "");
        std::vector<double> seen;
        std::optional<Outcome<std::string>> done;
        u->download(
            *u->pending(), [&](Outcome<std::string> o) { done = o; }, [&](double p) { seen.push_back(p); });
        ASSERT_TRUE(waitUntil([&] { return done.has_value(); }));
        ASSERT_TRUE(*done) << done->failure.toStdString();
        EXPECT_EQ(seen.empty() ? -1 : seen.back(), c.last) << c.feedKeys;
        ::unlink(done->value->c_str());
    }
}

TEST_F(StagingTest, FailedStagingKeepsThePreviouslyStagedCopyANewOneReplacesItAndTheTopBundleWins) {
    std::string good = zipOf(signedBundle());
    auto u = offer(good);
    ASSERT_EQ(stage(*u), UpdateState::readyToRelaunch());
    std::string first = *u->staged();
    // The server now hands out a tampered build under the same address.
    std::string bad = signedBundle();
    writeText(bad + "/Contents/Resources/notes.txt", "evil\n");
    const std::string archivePath = u->pending()->url.path().mid(1).toStdString();
    server.put(archivePath, readText(zipOf(bad)));
    EXPECT_EQ(stage(*u), UpdateState::failed(signatureInvalid));
    // Only the first unpack folder stays.
    EXPECT_EQ(std::tuple(u->staged(), listFolder(tmp).size()), std::tuple(std::optional(first), 1u));
    EXPECT_NE(readText(UpdateLog::path()).find("contents or permissions differ"), std::string::npos);
    // A good one again: it replaces the first, which is not left behind.
    server.put(archivePath, readText(good));
    EXPECT_EQ(stage(*u), UpdateState::readyToRelaunch());
    ASSERT_TRUE(u->staged() && *u->staged() != first);
    EXPECT_EQ(listFolder(tmp), std::vector<std::string>{Paths::lastComponent(Paths::parent(*u->staged()))});
    // Nothing is kept between launches: an updater that goes takes its staged copy along.
    u.reset();
    expectNothingLeft();

    // The first bundle at the top of an archive wins; one in a subfolder is not found.
    std::string a = signedBundle("A.app"), b = signedBundle("B.app");
    std::string archive = work + "/two.zip";
    makeZip(archive, "[{\"tree\": " + JsonWriter::quote(b) +
                         ", \"as\": \"B.app\"}, {\"tree\": " + JsonWriter::quote(a) + ", \"as\": \"A.app\"}]");
    u = offer(archive);
    EXPECT_EQ(stage(*u), UpdateState::readyToRelaunch());
    EXPECT_NE(readText(u->staged().value_or("") + "/Contents/MacOS/Vessora").find("A.app"), std::string::npos);

    std::string nested = work + "/nested.zip";
    makeZip(nested, "[{\"tree\": " + JsonWriter::quote(signedBundle()) + ", \"as\": \"Release/Vessora.app\"}]");
    EXPECT_EQ(stage(*offer(nested)), UpdateState::failed(unpackFailed));
    EXPECT_EQ(listFolder(tmp), std::vector<std::string>{Paths::lastComponent(Paths::parent(*u->staged()))});
}

// A server that dribbles a byte every 0.2 s meets the deadlines (shortened
// here): the check fails when its time is up, the download when too little
// arrives in a window, each with a sentence, and nothing is left behind.
TEST_F(StagingTest, DribblingServerMeetsTheDeadlines) {
    const Updater::Deadlines deadlines{.checkMs = 1500, .stallMs = 1500, .stallBytes = 1024};
    QElapsedTimer timer;

    QUrl slowFeed = publishBuild("dribble-feed", zipOf(signedBundle()));
    server.put(slowFeed.path().mid(1).toStdString() + ".dribble", "");
    auto checking = makeUpdater(slowFeed, makeInstalledInfo(dir / "installed", "10"));
    checking->setDeadlines(deadlines);
    timer.start();
    checking->check(false);
    ASSERT_TRUE(settle(*checking));
    EXPECT_EQ(checking->state(), UpdateState::failed("The update server did not answer within 2 seconds."));
    EXPECT_LT(timer.elapsed(), 10000);

    auto downloading = offer(zipOf(signedBundle()));
    server.put(downloading->pending()->url.path().mid(1).toStdString() + ".dribble", "");
    downloading->setDeadlines(deadlines);
    timer.start();
    EXPECT_EQ(stage(*downloading), UpdateState::failed("The download made no progress for 2 seconds and was stopped."));
    EXPECT_LT(timer.elapsed(), 10000);
    EXPECT_NE(readText(UpdateLog::path()).find("download refused: less than 1024 bytes arrived in 2 seconds"),
              std::string::npos);
    expectNothingLeft();
}

TEST_F(StagingTest, OnlyTheDigestOurTeamSignedForTheOfferedNewerBuildIsStaged) {
    auto discarded = [](const char* why) { return QString("The downloaded app %1 and was discarded.").arg(why); };
    struct Case {
        std::string secret, team, build;
        QString message;
        std::optional<std::string> sha256;
    } cases[] = {
        {keys.teamSecret, ourTeam, "11", checksumMismatch, std::string(64, '0')},
        // Valid under the key pinned for another team: signed by someone else.
        {keys.otherSecret, otherTeam, "11", wrongTeam, {}},
        // A key pinned for nobody, or another team's key, cannot vouch for our team.
        {keys.straySecret, ourTeam, "11", signatureInvalid, {}},
        {keys.otherSecret, ourTeam, "11", signatureInvalid, {}},
        // Validly signed, but an old build, the installed one, or not the one offered.
        {keys.teamSecret, ourTeam, "3", discarded("(build 3) is not newer than this one (build 10)"), {}},
        {keys.teamSecret, ourTeam, "10", discarded("(build 10) is not newer than this one (build 10)"), {}},
        {keys.teamSecret, ourTeam, "12", discarded("is build 12, not build 11 as the update server said,"), {}},
    };
    for (const Case& c : cases) {
        auto u = offer(zipOf(signedBundle("Vessora.app", c.secret, c.team, c.build)), c.sha256);
        EXPECT_EQ(stage(*u), UpdateState::failed(c.message)) << c.team << " " << c.build;
        EXPECT_FALSE(u->staged());
        expectNothingLeft();
    }
}

TEST_F(StagingTest, HostileArchivesWriteNothingOutsideTheUnpackFolder) {
    std::string bundle = signedBundle();
    // Every archive also carries a valid signed bundle, so only the hostile
    // entry can be the reason for the refusal. The unpacker's own tests try
    // more variants of each.
    const std::string cases[] = {
        R"(, {"name": "../outside/dotdot.txt", "text": "escaped"})",
        ", {\"name\": " + JsonWriter::quote(outside + "/absolute.txt") + ", \"text\": \"escaped\"}",
        ", {\"name\": \"Vessora.app/out\", \"link\": " + JsonWriter::quote(outside) +
            "}, {\"name\": \"Vessora.app/out/through.txt\", \"text\": \"escaped\"}",
        R"(, {"name": "Vessora.app/bomb", "zeros": 67108864})",
        "garbage",
    };
    for (const std::string& hostile : cases) {
        auto u = offer(hostile == "garbage" ? writeText(dir / "garbage.zip", "not a zip") : zipOf(bundle, hostile));
        u->setUnpackLimits({.maxEntries = 1000, .maxTotalBytes = 16 << 20});
        EXPECT_EQ(stage(*u), UpdateState::failed(unpackFailed)) << hostile;
        EXPECT_FALSE(u->staged());
        expectNothingLeft();
        EXPECT_FALSE(exists(dir / "dotdot.txt"));
    }
    // A refused archive whose names are not UTF-8 is removed all the same.
    std::string archive = dir / "raw.zip";
    makeZip(archive,
            R"({"raw": [{"name": "\udcff\udcfe.app", "dir": true}, {"name": "\udcff\udcfe.app/\udcff", )"
            R"("text": "x"}, {"name": "\udcff\udcfe.app/\udcfd", "dir": true, "mode": 448}, )"
            R"({"name": "\udcff\udcfe.app/\udcfd/f", "text": "y", "mode": 0}, {"name": "../x", "text": "z"}]})");
    Updater u(server.url("x/appcast.json"), {}, {});
    EXPECT_EQ(u.unpack(archive).failure, unpackFailed);
    expectNothingLeft();
}

class UnpackTest : public ::testing::Test {
protected:
    TempDir dir;
    std::string into = dir / "into";
    void SetUp() override { makeDirs(into); }

    ArchiveUnpacker::Result unpack(const std::string& entries, const ArchiveUnpacker::Limits& limits = {}) {
        std::string archive = dir / "archive.zip";
        makeZip(archive, entries);
        runProgram({"rm", "-rf", into});
        makeDirs(into);
        return ArchiveUnpacker::unpack(archive, into, limits);
    }
};

TEST_F(UnpackTest, HostileOrOversizedArchivesAreRefused) {
    const std::string cases[] = {
        R"([{"name": "ok.txt", "text": "x"}, {"name": "../escape.txt", "text": "x"}])",
        R"([{"name": "ok.txt", "text": "x"}, {"name": "a/./../../escape.txt", "text": "x"}])",
        R"([{"name": "ok.txt", "text": "x"}, {"name": "/tmp/absolute-escape.txt", "text": "x"}])",
        R"([{"name": "ok.txt", "text": "x"}, {"name": "a/link", "link": "/etc"}])",
        R"([{"name": "ok.txt", "text": "x"}, {"name": "a/link", "link": "../.."}])",
        R"([{"name": "a/link", "link": ".."}, {"name": "a/link/ok.txt", "text": "x"}])",
        R"([{"name": "a/x/y.txt", "text": "x"}, {"name": "a/x", "link": "."}])",
        R"([{"name": "a/up", "link": "me/../.."}, {"name": "a/me", "link": "."}])",
        R"([{"name": "dup", "link": "ok"}, {"name": "dup", "text": "x"}])",
        R"([{"name": "file", "text": "x"}, {"name": "file/below", "text": "x"}])",
        R"([{"name": "ok.txt", "text": "x"}, {"name": "empty", "link": ""}])",
        R"({"raw": [{"name": "setuid", "text": "x", "mode": 2541}]})",
        R"({"raw": [{"name": "setgid", "text": "x", "mode": 1517}]})",
        R"({"raw": [{"name": "closed", "dir": true, "mode": 365}]})",
        // One view of the archive only: no central directory, or one that
        // disagrees with the local headers.
        R"({"raw": [{"name": "a.txt", "text": "x"}, {"name": "root", "link": "/"}], "layout": "nocd"})",
        R"({"raw": [{"name": "a.txt", "text": "x"}, {"name": "b.txt", "text": "y"}], "layout": "cd-name"})",
        R"({"raw": [{"name": "a.txt", "text": "x"}, {"name": "b.txt", "text": "y"}], "layout": "cd-size"})",
    };
    for (const std::string& entries : cases) {
        auto result = unpack(entries);
        EXPECT_TRUE(!result.ok && !result.reason.empty()) << entries;
    }
    EXPECT_FALSE(exists(dir / "escape.txt") || exists("/tmp/absolute-escape.txt"));

    // Entries hidden inside another's data never surface, whichever way the
    // reader looks.
    unpack(R"({"raw": [{"name": "a.txt", "text": "x"}, {"name": "root", "link": "/"}], "layout": "hidden"})");
    EXPECT_FALSE(exists(into + "/root"));
    // Links that stay inside, permission bits as given, names as bytes.
    auto fine = unpack(R"({"raw": [{"name": "a/b/c.txt", "text": "x", "mode": 493}, {"name": "a/l", )"
                       R"("link": "b/../b/c.txt"}, {"name": "\udcff name", "text": "y", "mode": 384}]})");
    EXPECT_TRUE(fine.ok) << fine.reason;
    auto mode = [&](const std::string& name) {
        struct stat info {};
        return ::stat((into + name).c_str(), &info) == 0 ? info.st_mode & 07777 : ~0u;
    };
    EXPECT_EQ(std::tuple(mode("/a/b/c.txt"), mode("/\xff name")), std::tuple(0755u, 0600u));

    // Caps on entries and bytes.
    const ArchiveUnpacker::Limits small{.maxEntries = 10, .maxTotalBytes = 1 << 20};
    EXPECT_FALSE(unpack(R"([{"name": "bomb", "zeros": 33554432}])", small).ok);
    EXPECT_TRUE(unpack(R"([{"name": "fits", "zeros": 1048576}])", small).ok);
    std::string entries = "[";
    for (int i = 0; i < 11; ++i)
        entries += std::string(i ? ", " : "") + R"({"name": "f)" + std::to_string(i) + R"(", "text": "x"})";
    EXPECT_FALSE(unpack(entries + "]", small).ok);
}

} // namespace
} // namespace vessora::test
