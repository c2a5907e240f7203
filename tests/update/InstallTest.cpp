// installAndRelaunch: its refusals in process, and the whole road in a child
// process that checks the local feed, stages the signed build, starts the
// install script and quits, after which the script replaces the installed
// copy and starts the new one.

#include "UpdateTestSupport.h"

#include "support/Paths.h"

#include <QElapsedTimer>

#include <gtest/gtest.h>

namespace vessora::test {
namespace {

class InstallTest : public ::testing::Test {
protected:
    TempDir dir;
    const FeedServer& server = FeedServer::shared();
    const Keys& keys = Keys::shared();
    std::unique_ptr<ScopedEnv> tmpdir;
    std::string marker = dir / "launched.txt";

    void SetUp() override {
        makeDirs(dir / "tmp");
        tmpdir = std::make_unique<ScopedEnv>("TMPDIR", dir / "tmp");
    }

    // Publishes a signed build 11 and its feed; returns the feed URL.
    QUrl publish(const std::string& name) {
        std::string bundle = makeBundle(dir / ("build-" + name), "Vessora.app", "2.0", "11", marker, "new");
        EXPECT_TRUE(signBundle(bundle, keys.teamSecret, ourTeam));
        return publishBuild("install-" + name, zipBundle(bundle, dir / (name + ".zip")));
    }

    std::unique_ptr<Updater> staged(const std::string& installed) {
        auto u = makeUpdater(publish(Paths::lastComponent(Paths::parent(installed))), installed);
        u->check(false);
        EXPECT_TRUE(settle(*u));
        u->downloadAndStage();
        EXPECT_TRUE(settle(*u));
        EXPECT_EQ(u->state(), UpdateState::readyToRelaunch());
        return u;
    }
};

TEST_F(InstallTest, RefusesWithoutAStagedCopyAndEndsAnAppThatDoesNotQuit) {
    Updater u(server.url("none/appcast.json"), {}, {});
    u.installAndRelaunch();
    EXPECT_EQ(u.state(), UpdateState::failed("Nothing is staged to install. Download the update again."));

    std::string installed = makeBundle(dir / "apps", "Vessora.app", "1.0", "10", marker, "old");
    auto ready = staged(installed);
    ASSERT_TRUE(ready->staged());
    // The temporary folder was cleaned meanwhile.
    runProgram({"rm", "-rf", Paths::parent(*ready->staged())});
    ready->installAndRelaunch();
    EXPECT_EQ(ready->state(),
              UpdateState::failed("The downloaded copy is no longer on disk. Download the update again."));
    EXPECT_EQ(readText(installed + "/Contents/Resources/notes.txt"), "resources of 1.0\n");

    // A refused install removes the staged copy: only an install may use it.
    auto refused = staged(installed);
    const std::string unpackFolder = Paths::parent(refused->staged().value_or(""));
    refused->setBundlePath(dir / "gone/Vessora.app");
    refused->installAndRelaunch();
    EXPECT_EQ(refused->state(), UpdateState::failed(QString::fromStdString(dir / "gone") +
                                                    " is not writable by this account. Move the app somewhere you "
                                                    "own, or install the update manually."));
    EXPECT_FALSE(refused->staged() || exists(unpackFolder));
    // An app that does not quit for the install is ended after one second.
    std::string output;
    QElapsedTimer timer;
    timer.start();
    EXPECT_TRUE(runProgram({selfPath(), "--quit-refused-child"}, &output) == 0 && output == "still running\n")
        << output;
    EXPECT_GE(timer.elapsed(), 900);
    EXPECT_LT(timer.elapsed(), 10000);
}

// The whole road in a child that quits as the app does (exit status 0); the
// detached script then installs and relaunches, or, when the staged copy fails
// its check, leaves the installed version in place and relaunches that. The
// installed folder was renamed: the executable is the one Info.plist names.
TEST_F(InstallTest, CheckDownloadInstallAndRelaunchEndToEnd) {
    for (bool spoil : {false, true}) {
        std::string name = spoil ? "spoiled" : "e2e";
        std::string installed = makeBundle(dir / ("My Apps " + name), "Vessora Copy.app", "1.0", "10", marker, "old");
        ASSERT_TRUE(signBundle(installed, keys.teamSecret, ourTeam));
        std::vector<std::string> command = {selfPath(),      "--install-child", publish(name).toString().toStdString(),
                                            server.caFile(), installed,         keys.teamPublic,
                                            keys.otherPublic};
        if (spoil) command.push_back("spoil");
        std::string output;
        EXPECT_EQ(runProgram(command, &output), 0) << output;
        EXPECT_TRUE(output.starts_with("checking\navailable(2.0, 11, nil)\ndownloading(0)\n") &&
                    output.ends_with("\nreadyToRelaunch\n"))
            << output;
        EXPECT_TRUE(waitUntil([&] { return readText(marker) == (spoil ? "old\n" : "new\n"); }, 15000))
            << readText("/tmp/corvane-update.log");
        ::unlink(marker.c_str());
        EXPECT_EQ(readText(installed + "/Contents/Resources/notes.txt"),
                  spoil ? "resources of 1.0\n" : "resources of 2.0\n");
        EXPECT_FALSE(exists(installed + ".old"));
        EXPECT_TRUE(BundleSignature::verify(installed, {{ourTeam, readText(keys.teamPublic)}}).valid);
    }
    // The unpack folders went, with the install and with the abort.
    std::string left;
    runProgram({"find", dir / "tmp", "-mindepth", "1", "-maxdepth", "1"}, &left);
    EXPECT_EQ(left, "");
}

} // namespace
} // namespace vessora::test
