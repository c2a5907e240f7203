// Download and staging against real zip archives of signed bundles, served by
// the local HTTPS feed. The updater's temporary directory is a test folder, so
// what it leaves behind can be listed exactly.

#include "UpdateTestSupport.h"

#include "support/Paths.h"
#include "update/Digest.h"

#include <QSignalSpy>

#include <filesystem>

#include <algorithm>
#include <gtest/gtest.h>

namespace vessora::test {
namespace {

const QString badResponse = QStringLiteral("The update server did not answer properly.");
const QString checksumMismatch = QStringLiteral("The download did not match its checksum and was discarded.");
const QString unpackFailed = QStringLiteral("The update could not be unpacked.");
const QString signatureInvalid = QStringLiteral("The downloaded app is not validly signed and was discarded.");
const QString wrongTeam = QStringLiteral("The downloaded app is signed by someone else and was discarded.");

std::vector<std::string> list(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

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
                             const std::string& team = ourTeam) {
        std::string folder = work + "/b" + std::to_string(++serial);
        std::string bundle = makeBundle(folder, name, "2.0", "11");
        EXPECT_TRUE(signBundle(bundle, secret.empty() ? keys.teamSecret : secret, team));
        return bundle;
    }

    // Serves `archive` with a feed offering it; returns the updater after a
    // check that must offer it.
    std::unique_ptr<Updater> offer(const std::string& archive, const std::optional<std::string>& sha256 = {}) {
        auto u = makeUpdater(publishBuild("stage", archive, sha256), makeInstalledInfo(dir / "installed", "10"));
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
        EXPECT_EQ(list(tmp), std::vector<std::string>{});
        EXPECT_EQ(list(outside), std::vector<std::string>{});
    }
};

TEST_F(StagingTest, SignedBuildIsStagedAndTheArchiveRemoved) {
    auto u = offer(zipOf(signedBundle()));
    QSignalSpy states(u.get(), &Updater::stateChanged);
    u->downloadAndStage();
    EXPECT_EQ(u->state(), UpdateState::downloading(0));
    u->check(false); // ignored while downloading
    u->downloadAndStage();
    ASSERT_TRUE(settle(*u));
    EXPECT_EQ(u->state(), UpdateState::readyToRelaunch());
    EXPECT_EQ(states.count(), 2);
    ASSERT_TRUE(u->staged());
    std::string staged = *u->staged();
    EXPECT_EQ(Paths::lastComponent(staged), "Vessora.app");
    EXPECT_TRUE(Paths::isInside(staged, tmp));
    auto left = list(tmp);
    ASSERT_EQ(left.size(), 1u); // only the unpack folder
    EXPECT_TRUE(left[0].starts_with("Corvane-update-"));
    EXPECT_FALSE(left[0].ends_with(".zip"));
    EXPECT_EQ(readText(staged + "/Contents/Resources/notes.txt"), "resources of 2.0\n");
    EXPECT_TRUE(u->verifySignature(staged).isEmpty());
    u->check(false); // ignored while ready to relaunch
    EXPECT_EQ(u->state(), UpdateState::readyToRelaunch());
}

TEST_F(StagingTest, DigestIsComparedIgnoringCase) {
    std::string archive = zipOf(signedBundle());
    std::string digest = *Digest::sha256OfFile(archive);
    std::string upper = digest;
    std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
    auto u = offer(archive, upper);
    EXPECT_EQ(stage(*u), UpdateState::readyToRelaunch());
    EXPECT_EQ(u->sha256Of(archive).value, digest);

    std::string wrong = digest;
    wrong[0] = wrong[0] == '0' ? '1' : '0';
    auto refused = offer(archive, wrong);
    EXPECT_EQ(stage(*refused), UpdateState::failed(checksumMismatch));
    EXPECT_FALSE(refused->staged());
    EXPECT_EQ(refused->sha256Of(dir / "no-such-archive").failure, checksumMismatch);
}

TEST_F(StagingTest, FailedStagingKeepsThePreviouslyStagedCopy) {
    std::string archive = zipOf(signedBundle());
    auto u = offer(archive);
    ASSERT_EQ(stage(*u), UpdateState::readyToRelaunch());
    std::string first = *u->staged();
    // An install attempt that cannot start leaves the state open for a new check.
    u->setBundlePath("");
    u->installAndRelaunch();
    ASSERT_EQ(u->state().kind(), UpdateState::Kind::failed);
    u->check(false);
    ASSERT_TRUE(settle(*u));
    ASSERT_EQ(u->state().kind(), UpdateState::Kind::available);
    // The server now hands out a tampered build under the same address.
    std::string bad = signedBundle();
    writeText(bad + "/Contents/Resources/notes.txt", "evil\n");
    server.put(u->pending()->url.path().mid(1).toStdString(), readText(zipOf(bad)));
    EXPECT_EQ(stage(*u), UpdateState::failed(signatureInvalid));
    EXPECT_EQ(u->staged(), first);
    EXPECT_EQ(list(tmp).size(), 1u); // the first unpack folder only
}

TEST_F(StagingTest, FirstBundleAtTheTopWinsAndOneInASubfolderIsNotFound) {
    std::string a = signedBundle("A.app"), b = signedBundle("B.app");
    std::string archive = work + "/two.zip";
    makeZip(archive, "[{\"tree\": " + jsonString(b) + ", \"as\": \"B.app\"}, {\"tree\": " + jsonString(a) +
                         ", \"as\": \"A.app\"}]");
    auto u = offer(archive);
    EXPECT_EQ(stage(*u), UpdateState::readyToRelaunch());
    EXPECT_EQ(Paths::lastComponent(u->staged().value_or("")), "A.app");

    std::string nested = work + "/nested.zip";
    makeZip(nested, "[{\"tree\": " + jsonString(signedBundle()) + ", \"as\": \"Release/Vessora.app\"}]");
    auto none = offer(nested);
    EXPECT_EQ(stage(*none), UpdateState::failed(unpackFailed));
    EXPECT_EQ(list(tmp), std::vector<std::string>{Paths::lastComponent(Paths::parent(*u->staged()))});
}

TEST_F(StagingTest, AnyChangeAfterSigningIsRefused) {
    struct Case {
        const char* what;
        std::function<void(const std::string&)> change;
    } cases[] = {
        {"tampered", [](const std::string& b) { writeText(b + "/Contents/Resources/notes.txt", "evil\n"); }},
        {"tampered executable",
         [](const std::string& b) { writeText(b + "/Contents/MacOS/Vessora", "#!/bin/sh\nrm -rf ~\n"); }},
        {"extra", [](const std::string& b) { writeText(b + "/Contents/MacOS/helper", "#!/bin/sh\n"); }},
        {"extra in the signature folder",
         [](const std::string& b) { writeText(b + "/Contents/_CodeSignature/extra", "x"); }},
        {"missing", [](const std::string& b) { ::unlink((b + "/Contents/Resources/notes.txt").c_str()); }},
        {"link retargeted",
         [](const std::string& b) {
             ::unlink((b + "/Contents/Resources/current").c_str());
             ::symlink("../Info.plist", (b + "/Contents/Resources/current").c_str());
         }},
        {"manifest edited",
         [](const std::string& b) {
             std::string m = b + "/Contents/_CodeSignature/CodeResources";
             writeText(m, readText(m) + "0000  Contents/none\n");
         }},
        {"unsigned",
         [](const std::string& b) { ::unlink((b + "/Contents/_CodeSignature/CodeResources.minisig").c_str()); }},
    };
    for (const Case& c : cases) {
        std::string bundle = signedBundle();
        c.change(bundle);
        auto u = offer(zipOf(bundle));
        EXPECT_EQ(stage(*u), UpdateState::failed(signatureInvalid)) << c.what;
        EXPECT_FALSE(u->staged()) << c.what;
        expectNothingLeft();
    }
}

TEST_F(StagingTest, SignerDecidesBetweenInvalidAndWrongTeam) {
    // Valid under the key pinned for another team: signed by someone else.
    auto other = offer(zipOf(signedBundle("Vessora.app", keys.otherSecret, otherTeam)));
    EXPECT_EQ(stage(*other), UpdateState::failed(wrongTeam));
    // A key pinned for nobody, even claiming our team, is no valid signature.
    auto stray = offer(zipOf(signedBundle("Vessora.app", keys.straySecret, ourTeam)));
    EXPECT_EQ(stage(*stray), UpdateState::failed(signatureInvalid));
    // Another team's key cannot vouch for our team.
    auto forged = offer(zipOf(signedBundle("Vessora.app", keys.otherSecret, ourTeam)));
    EXPECT_EQ(stage(*forged), UpdateState::failed(signatureInvalid));
    expectNothingLeft();
}

TEST_F(StagingTest, HostileArchivesWriteNothingOutsideTheUnpackFolder) {
    std::string bundle = signedBundle();
    // Every archive also carries a valid signed bundle, so only the hostile
    // entry can be the reason for the refusal. The unpacker's own tests try
    // more variants of each.
    const std::string cases[] = {
        R"(, {"name": "../outside/dotdot.txt", "text": "escaped"})",
        ", {\"name\": " + jsonString(outside + "/absolute.txt") + ", \"text\": \"escaped\"}",
        ", {\"name\": \"Vessora.app/out\", \"link\": " + jsonString(outside) +
            "}, {\"name\": \"Vessora.app/out/through.txt\", \"text\": \"escaped\"}",
        R"(, {"name": "Vessora.app/bomb", "zeros": 67108864})",
    };
    for (const std::string& hostile : cases) {
        auto u = offer(zipOf(bundle, hostile));
        u->setUnpackLimits({.maxEntries = 1000, .maxTotalBytes = 16 << 20});
        EXPECT_EQ(stage(*u), UpdateState::failed(unpackFailed)) << hostile;
        EXPECT_FALSE(u->staged());
        expectNothingLeft();
        EXPECT_FALSE(exists(dir / "dotdot.txt"));
    }
    std::string garbage = dir / "garbage.zip";
    writeText(garbage, "this is not a zip archive");
    auto g = offer(garbage);
    EXPECT_EQ(stage(*g), UpdateState::failed(unpackFailed));
    expectNothingLeft();
}

TEST_F(StagingTest, DownloadMustAnswer200) {
    auto u = offer({}); // the archive itself is missing
    EXPECT_EQ(stage(*u), UpdateState::failed(badResponse));
    expectNothingLeft();

    Updater idle(server.url("x/appcast.json"), {}, {});
    idle.downloadAndStage(); // nothing pending: nothing happens
    EXPECT_EQ(idle.state(), UpdateState::idle());
}

} // namespace
} // namespace vessora::test
