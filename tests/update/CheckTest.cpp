// The check against a real HTTPS feed on 127.0.0.1.

#include "UpdateTestSupport.h"

#include "update/UpdateLog.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

namespace vessora::test {
namespace {

const QString bad = QStringLiteral("The update server did not answer properly.");

class CheckTest : public ::testing::Test {
protected:
    TempDir dir;
    const FeedServer& server = FeedServer::shared();

    // Serves `json` as a feed of its own and returns its URL.
    QUrl feed(const std::string& json) {
        std::string path = FeedServer::freshFolder("check") + "/appcast.json";
        server.put(path, json);
        return server.url(path);
    }

    std::unique_ptr<Updater> updater(const QUrl& url, const std::string& build = "10",
                                     const std::string& osRelease = {}) {
        return makeUpdater(url, makeInstalledInfo(dir.path(), build), osRelease);
    }

    // One check to its end.
    UpdateState run(Updater& u, bool silent) {
        u.check(silent);
        EXPECT_TRUE(settle(u));
        return u.state();
    }
};

std::string manifest(const std::string& version, int build, const std::string& extra = {}) {
    return R"({"version": ")" + version + R"(", "build": )" + std::to_string(build) +
           R"(, "url": "https://127.0.0.1/x.zip")" + extra + "}";
}

TEST_F(CheckTest, OffersOnlyAHigherBuildWhateverTheVersionText) {
    auto same = updater(feed(manifest("9.9 totally new", 10)));
    EXPECT_EQ(run(*same, false), UpdateState::upToDate());
    EXPECT_TRUE(!same->pending() && same->lastChecked());
    EXPECT_EQ(run(*same, true), UpdateState::idle());

    EXPECT_EQ(run(*updater(feed(manifest("3.0", 9))), false), UpdateState::upToDate());
    auto newer = updater(feed(manifest("2.0", 11, R"(, "notes": "Faster scans.", "unknown": [1, 2])")));
    QSignalSpy states(newer.get(), &Updater::stateChanged);
    newer->check(true);
    newer->check(false); // ignored while checking
    ASSERT_TRUE(settle(*newer));
    EXPECT_EQ(newer->state(), UpdateState::available("2.0", 11, QStringLiteral("Faster scans.")));
    ASSERT_TRUE(newer->pending());
    EXPECT_EQ(std::tuple(newer->pending()->url, states.count()), std::tuple(QUrl("https://127.0.0.1/x.zip"), 2));

    // A running build that is not a plain integer counts as zero.
    auto u = updater(feed(manifest("1.0", 1)), "1.2");
    EXPECT_EQ(run(*u, false), UpdateState::available("1.0", 1, std::nullopt));

    // Digits only, without a leading zero, and within 64 bits.
    const std::pair<const char*, int64_t> builds[] = {
        {"42", 42}, {"0", 0}, {"+11", 0}, {"011", 0}, {" 11", 0}, {"11 ", 0}, {"-1", 0}, {"99999999999999999999", 0},
    };
    for (const auto& [text, build] : builds) EXPECT_EQ(Updater::parseBuildNumber(text), build) << text;
    Updater noBundle(server.url("x/appcast.json"), {}, {});
    noBundle.setBundlePath(dir / "missing.app");
    EXPECT_EQ(std::tuple(noBundle.currentVersion(), noBundle.currentBuild()), std::tuple("?", 0));
}

TEST_F(CheckTest, SystemTooOldFailsNamingTheSystemButStillCountsAsChecked) {
    std::string osRelease = writeText(dir / "os-release", "NAME=\"Test OS\"\nVERSION_ID=\"14.2.9\"\n");
    auto u = updater(feed(manifest("2.0", 11, R"(, "minimumSystemVersion": "14.3")")), "10", osRelease);
    EXPECT_EQ(run(*u, false), UpdateState::failed("This update needs Test OS 14.3 or newer."));
    EXPECT_TRUE(u->lastChecked() && !u->pending());
    EXPECT_EQ(run(*u, true), UpdateState::idle());

    writeText(osRelease, "NAME=\"Test OS\"\nVERSION_ID=\"14.3.0\"\n");
    EXPECT_EQ(run(*u, false), UpdateState::available("2.0", 11, std::nullopt));
    // Only major and minor count.
    EXPECT_TRUE(Updater::systemMeets("14.3.1", 14, 3));

    // A minimum that is not a version number refuses the offer; the value is
    // shown escaped.
    for (const char* minimum : {"15..1", "x.14", "", "14.", " 14", "99\n\u2026"})
        EXPECT_FALSE(Updater::isVersionNumber(QString::fromUtf8(minimum))) << minimum;
    auto malformed = updater(feed(manifest("2.0", 11, R"(, "minimumSystemVersion": "99\n\u2026")")), "10", osRelease);
    EXPECT_EQ(run(*malformed, false),
              UpdateState::failed("This update asks for system version “99\\x0a…”, which is not a version number, so "
                                  "it is not offered."));
    EXPECT_FALSE(malformed->pending());
    EXPECT_EQ(run(*malformed, true), UpdateState::idle());
}

// A copy a package manager installed never checks, downloads or installs:
// under /usr, or listed in dpkg's database wherever it lies.
TEST_F(CheckTest, PackageManagedCopyNeverChecksDownloadsOrInstalls) {
    const std::string listed = makeInstalledInfo(dir / "listed", "10");
    writeText(dir / "dpkg/info/vessora:amd64.list", "/.\n/usr\n" + listed + "\n");
    for (const std::string& bundle : {std::string("/usr/lib/vessora/Vessora.app"), listed}) {
        SCOPED_TRACE(bundle);
        auto u = updater(feed(manifest("2.0", 11)));
        u->setBundlePath(bundle);
        u->setDpkgDatabase(dir / "dpkg");
        EXPECT_EQ(run(*u, true), UpdateState::idle());
        EXPECT_EQ(run(*u, false), UpdateState::packageManaged());
        EXPECT_FALSE(u->lastChecked() || u->pending()); // the feed was never asked
        u->downloadAndStage();
        EXPECT_EQ(u->state(), UpdateState::packageManaged());
        u->installAndRelaunch();
        EXPECT_EQ(u->state(), UpdateState::packageManaged());
    }
    // The same bundle, not listed: the feed is asked and the update offered.
    auto free = updater(feed(manifest("2.0", 11)));
    free->setBundlePath(makeInstalledInfo(dir / "home", "10"));
    free->setDpkgDatabase(dir / "dpkg");
    EXPECT_EQ(run(*free, false).kind(), UpdateState::Kind::available);
}

TEST_F(CheckTest, BadStatusOversizedUndecodableOrPlainHttpFeedsFail) {
    const std::string feeds[] = {
        R"({"build": 11, "url": "https://127.0.0.1/x.zip"})",
        R"({"version": "2.0", "build": "11", "url": "https://127.0.0.1/x.zip"})",
        R"({"version": "2.0", "build": 11.5, "url": "https://127.0.0.1/x.zip"})",
        R"({"version": "2.0", "build": 11, "url": "https://exa mple.com/x.zip"})",
        R"({"version": "2.0", "build": 11, "url": "https://127.0.0.1/x.zip", "length": -1})",
        R"([{"version": "2.0", "build": 11, "url": "https://127.0.0.1/x.zip"}])",
        "",
    };
    for (const std::string& json : feeds) {
        auto u = updater(feed(json));
        UpdateState state = run(*u, false);
        EXPECT_TRUE(state.kind() == UpdateState::Kind::failed && !u->pending() &&
                    state.message().startsWith("The update information could not be read"))
            << json << " gave " << state.message().toStdString();
        EXPECT_EQ(run(*u, true), UpdateState::idle()) << json;
    }
    // Optional keys may be null, and a whole-number double is a build.
    auto lenient =
        updater(feed(R"({"version": "2.0", "build": 11.0, "url": "https://127.0.0.1/x.zip", "notes": null})"));
    EXPECT_EQ(run(*lenient, false), UpdateState::available("2.0", 11, std::nullopt));

    // Only HTTPS with a trusted certificate is ever followed.
    auto plain = updater(feed(R"({"version": "2.0", "build": 11, "url": "http://127.0.0.1/x.zip"})"));
    EXPECT_EQ(run(*plain, false), UpdateState::failed(bad));
    EXPECT_FALSE(plain->pending());

    QUrl target = feed(manifest("2.0", 11));
    QUrl toHttp = feed("unused"), toHttps = feed("unused");
    QUrl httpTarget = target;
    httpTarget.setScheme("http");
    server.put(toHttp.path().mid(1).toStdString() + ".redirect", httpTarget.toString().toStdString());
    server.put(toHttps.path().mid(1).toStdString() + ".redirect", target.toString().toStdString());
    EXPECT_EQ(run(*updater(toHttp), false), UpdateState::failed(bad));
    EXPECT_EQ(run(*updater(toHttps), false), UpdateState::available("2.0", 11, std::nullopt));

    EXPECT_EQ(run(*updater(httpTarget), false), UpdateState::failed(bad));

    // Nor is a certificate this updater was not told to trust.
    Updater untrusting(target, {}, {});
    untrusting.setBundlePath(makeInstalledInfo(dir.path(), "10"));
    const UpdateState state = run(untrusting, false);
    EXPECT_TRUE(state.kind() == UpdateState::Kind::failed && state.message() != bad) << state.message().toStdString();

    // A status other than 200, or a feed over one mebibyte, is a bad response.
    for (const char* status : {"304", "500", "201"}) {
        QUrl url = feed(manifest("2.0", 11));
        server.put(url.path().mid(1).toStdString() + ".status", status);
        auto u = updater(url);
        EXPECT_EQ(run(*u, false), UpdateState::failed(bad)) << status;
        EXPECT_EQ(run(*u, true), UpdateState::idle()) << status;
        EXPECT_FALSE(u->lastChecked()) << status;
    }
    auto missing = updater(server.url("nowhere/appcast.json"));
    EXPECT_EQ(run(*missing, false), UpdateState::failed(bad));
    EXPECT_NE(readText(UpdateLog::path()).find("feed refused: the server answered 404 ("), std::string::npos);
    // No server at all: the log says so rather than quoting an empty status.
    auto nobody = updater(QUrl("https://127.0.0.1:9/appcast.json"));
    EXPECT_EQ(run(*nobody, false).kind(), UpdateState::Kind::failed);
    EXPECT_NE(readText(UpdateLog::path()).find("feed refused: could not reach the server: Connection refused"),
              std::string::npos)
        << readText(UpdateLog::path());
    // A feed larger than one mebibyte is refused unread.
    // Valid JSON apart from its size, so only the cap can refuse it: once with
    // its length announced, once sent without a length and without end.
    for (bool endless : {false, true}) {
        QUrl url = feed(manifest("2.0", 11, ", \"pad\": \"" + std::string(2 << 20, ' ') + "\""));
        if (endless) server.put(url.path().mid(1).toStdString() + ".endless", "");
        writeText(UpdateLog::path(), "");
        EXPECT_EQ(run(*updater(url), false), UpdateState::failed(bad)) << endless;
        EXPECT_NE(readText(UpdateLog::path()).find("the feed is larger than 1 MiB"), std::string::npos) << endless;
    }
}

} // namespace
} // namespace vessora::test
