// The install script run for real by /bin/sh on temporary folders. Test
// bundles' executables verify with the test key (as the real app does with
// the release key) and, when launched, append a tag to a marker file.

#include "UpdateTestSupport.h"

#include "update/BundleSignature.h"
#include "update/InstallScript.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <thread>

namespace vessora::test {
namespace {

class InstallScriptTest : public ::testing::Test {
protected:
    TempDir dir;
    const Keys& keys = Keys::shared();
    std::string log = dir / "update.log";
    std::string marker = dir / "launched.txt";
    std::string current, staged, unpackFolder;

    // An installed v1 in `appsFolder` and a signed, staged v2 in `unpackFolder`
    // (the staged copy signed after `extra` changed it).
    void prepare(const std::string& appsFolder, const std::string& unpack,
                 const std::function<void(const std::string&)>& extra = {}) {
        current = makeBundle(appsFolder, "Vessora.app", "1.0", "10", marker, "old");
        ASSERT_TRUE(signBundle(current, keys.teamSecret, ourTeam));
        unpackFolder = unpack;
        staged = makeBundle(unpackFolder, "Vessora.app", "2.0", "11", marker, "new");
        if (extra) extra(staged);
        ASSERT_TRUE(signBundle(staged, keys.teamSecret, ourTeam));
    }
    void prepare() { prepare(dir / "Applications", dir / "Corvane-update-1"); }

    // A process id that is certainly not running any more.
    static long long deadPid() {
        pid_t child = ::fork();
        if (child == 0) _exit(0);
        ::waitpid(child, nullptr, 0);
        return child;
    }

    // With `firstLog` the script tries that log first, and `log` as its fallback.
    int runScript(long long pid, const std::string& firstLog = {}) {
        InstallScript::Values values{current,
                                     staged,
                                     unpackFolder,
                                     "Vessora",
                                     pid,
                                     firstLog.empty() ? log : firstLog,
                                     firstLog.empty() ? std::string() : log};
        std::string output;
        int status = runProgram({"/bin/sh", "-c", InstallScript::build(values)}, &output);
        EXPECT_TRUE(output.empty() || !firstLog.empty()) << output; // everything goes to the log
        return status;
    }

    std::string installedVersion() { return readText(current + "/Contents/Resources/notes.txt"); }
    bool waitForMarker(const std::string& text) {
        return waitUntil([&] { return readText(marker) == text; }, 10000);
    }
};

// One full install with everything that could trip it: the app still running
// for a moment, paths with spaces, quotes, shell syntax and a line break that
// tries to forge a log line (plainly and through an echo escape), and a log
// that cannot be opened, so the fallback log is used.
TEST_F(InstallScriptTest, ReplacesTheBundleCleansUpAndStartsTheNewOne) {
    prepare(dir / "Apps it's \"mine\" $(touch pwned) `touch pwned2`\nOK: updated, relaunching\\n\\c",
            dir / "Corvane-update-'; touch pwned3; '");
    pid_t app = ::fork();
    if (app == 0) {
        ::usleep(600'000);
        _exit(0);
    }
    std::thread reaper([app] { ::waitpid(app, nullptr, 0); });
    EXPECT_EQ(runScript(app, dir / "no folder/update.log"), 0) << readText(log);
    reaper.join();
    EXPECT_EQ(installedVersion(), "resources of 2.0\n");
    EXPECT_FALSE(exists(current + ".old"));
    EXPECT_FALSE(exists(unpackFolder));
    EXPECT_TRUE(waitForMarker("new\n")) << readText(marker);
    for (const char* name : {"pwned", "pwned2", "pwned3"}) {
        EXPECT_FALSE(exists(dir / name)) << name;
        EXPECT_FALSE(exists(name)) << name;
    }
    std::string text = readText(log);
    EXPECT_NE(text.find("update starting: " +
                        dir / "Apps it's \"mine\" $(touch pwned) `touch pwned2`\\x0aOK: updated, "
                              "relaunching\\\\n\\\\c/Vessora.app <- " +
                        staged + "\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("\ncp exit=0\n"), std::string::npos) << text;
    EXPECT_TRUE(text.ends_with("\nOK: updated, relaunching\n")) << text;
    EXPECT_EQ(text.find("\nOK: updated"), text.rfind("\nOK: updated")) << text;
}

TEST_F(InstallScriptTest, UnusableStagedCopyLeavesTheInstalledAppUntouchedAndRelaunchesIt) {
    const std::pair<const char*, const char*> cases[] = {
        {"rm -rf Vessora.app", "ABORT: staged copy is gone, installed app untouched"},
        {"rm Vessora.app/Contents/MacOS/Vessora", "ABORT: staged copy has no executable, installed app untouched"},
        {"chmod 644 Vessora.app/Contents/MacOS/Vessora",
         "ABORT: staged copy has no executable, installed app untouched"},
        {"echo evil > Vessora.app/Contents/Resources/notes.txt",
         "ABORT: staged signature invalid, installed app untouched"},
    };
    for (const auto& [spoil, logLine] : cases) {
        TempDir fresh;
        prepare(fresh / "Applications", fresh / "Corvane-update-1");
        std::string reason;
        auto before = BundleSignature::manifestFor(current, reason);
        ASSERT_EQ(shellIn(unpackFolder, spoil), 0);
        EXPECT_EQ(runScript(deadPid()), 1) << spoil;
        EXPECT_EQ(BundleSignature::manifestFor(current, reason), before) << spoil;
        EXPECT_FALSE(exists(current + ".old")) << spoil;
        EXPECT_NE(readText(log).find(std::string(logLine) + "\nrelaunching the installed version\n"), std::string::npos)
            << spoil << "\n"
            << readText(log);
        EXPECT_TRUE(waitForMarker("old\n")) << spoil;
        ::unlink(marker.c_str());
    }
}

TEST_F(InstallScriptTest, CopyThatFailsItsChecksIsRolledBack) {
    if (!isRoot()) GTEST_SKIP() << "needs root to mount a small tmpfs that fills up during the copy";
    std::string apps = dir / "small";
    ASSERT_TRUE(mountTmpfs(apps, 1 << 20));
    // The new copy does not fit beside the old one.
    prepare(apps, dir / "Corvane-update-1",
            [](const std::string& b) { writeFile(b + "/Contents/Resources/large.bin", 3 << 20); });
    EXPECT_EQ(runScript(deadPid()), 1);
    std::string text = readText(log);
    EXPECT_NE(text.find("restoring backup\nrestored"), std::string::npos) << text;
    EXPECT_EQ(installedVersion(), "resources of 1.0\n");
    EXPECT_FALSE(exists(current + ".old"));
    EXPECT_TRUE(exists(staged)); // kept for another attempt
    EXPECT_TRUE(waitForMarker("old\n"));
    unmount(apps);
}

// Slow (about 30 seconds): the app never exits, so the script gives up.
TEST_F(InstallScriptTest, SlowAbortsAfterThirtySecondsWhileTheAppStillRuns) {
    prepare();
    pid_t app = ::fork();
    if (app == 0) {
        ::pause();
        _exit(0);
    }
    int status = runScript(app);
    ::kill(app, SIGKILL);
    ::waitpid(app, nullptr, 0);
    EXPECT_EQ(status, 1);
    std::string text = readText(log);
    EXPECT_TRUE(text.ends_with("ABORT: app still running after 30s, touching nothing\n")) << text;
    EXPECT_EQ(installedVersion(), "resources of 1.0\n");
    EXPECT_TRUE(exists(staged));
    EXPECT_FALSE(exists(current + ".old"));
    EXPECT_FALSE(exists(marker));
}

} // namespace
} // namespace vessora::test
