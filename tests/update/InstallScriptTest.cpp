// The install script run for real by /bin/sh on temporary folders. Test
// bundles' executables verify with the test key (as the real app does with
// the release key) and, when launched, append a tag to a marker file.

#include "UpdateTestSupport.h"

#include "update/BundleSignature.h"
#include "update/InstallScript.h"
#include "update/UpdateLog.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <thread>

namespace vessora::test {
namespace {

// Above any pid_max: certainly not a running process.
constexpr long long kNoSuchProcess = 1LL << 31;

class InstallScriptTest : public ::testing::Test {
protected:
    TempDir dir;
    // The updater's own log, where the script repeats every line it says.
    ScopedEnv stateHome{"XDG_STATE_HOME", dir / "state"};
    const Keys& keys = Keys::shared();
    std::string log = dir / "corvane-update.log";
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

    // Runs the script as the updater starts it, and waits for it.
    int runScript(long long pid) {
        InstallScript::Values values{
            current, staged, unpackFolder, InstallScript::executableOf(current), InstallScript::executableOf(staged),
            pid};
        auto started = InstallScript::start(InstallScript::build(values), log);
        EXPECT_EQ(started.error, 0);
        int status = 0;
        ::waitpid(started.pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    static std::string stateLog() { return readText(UpdateLog::path()); }

    std::string installedVersion() { return readText(current + "/Contents/Resources/notes.txt"); }
    bool waitForMarker(const std::string& text) {
        return waitUntil([&] { return readText(marker) == text; }, 10000);
    }
};

// One full install with everything that could trip it: the app still running
// for a moment, paths with spaces, quotes, shell syntax and a line break that
// tries to forge a log line (plainly and through an echo escape).
TEST_F(InstallScriptTest, ReplacesTheBundleCleansUpAndStartsTheNewOne) {
    prepare(dir / "Apps it's \"mine\" $(touch pwned) `touch pwned2`\nOK: updated, relaunching\\n\\c",
            dir / "Corvane-update-'; touch pwned3; '");
    pid_t app = ::fork();
    if (app == 0) {
        ::usleep(600'000);
        _exit(0);
    }
    std::thread reaper([app] { ::waitpid(app, nullptr, 0); });
    EXPECT_EQ(runScript(app), 0) << readText(log);
    reaper.join();
    EXPECT_EQ(installedVersion(), "resources of 2.0\n");
    EXPECT_TRUE(waitForMarker("new\n") && !exists(current + ".old") && !exists(unpackFolder)) << readText(marker);
    for (const char* name : {"pwned", "pwned2", "pwned3"}) EXPECT_FALSE(exists(dir / name) || exists(name)) << name;
    std::string text = readText(log);
    EXPECT_NE(text.find("update starting: " +
                        dir / "Apps it's \"mine\" $(touch pwned) `touch pwned2`\\x0aOK: updated, "
                              "relaunching\\\\n\\\\c/Vessora.app <- " +
                        staged + "\n"),
              std::string::npos)
        << text;
    EXPECT_TRUE(text.find("\ncp exit=0\n") != std::string::npos && text.ends_with("\nOK: updated, relaunching\n"))
        << text;
    EXPECT_EQ(text.find("\nOK: updated"), text.rfind("\nOK: updated")) << text;
    // The updater's log tells the same story, one escaped line per step.
    std::string state = stateLog();
    EXPECT_NE(state.find(" install: update starting: "), std::string::npos) << state;
    EXPECT_TRUE(state.ends_with(" install: OK: updated, relaunching\n")) << state;
    EXPECT_EQ(std::count(state.begin(), state.end(), '\n'), 2) << state;
}

// Every abort leaves the installed app as it was, removes the staged copy,
// says why in both logs and starts the installed version again. In the first
// case someone planted a link at the install log's name: it is not followed,
// and the updater's own log still gets every line.
TEST_F(InstallScriptTest, UnusableStagedCopyIsRemovedAndTheInstalledAppRelaunched) {
    const std::pair<const char*, const char*> cases[] = {
        {"rm -rf Vessora.app", "ABORT: staged copy is gone, installed app untouched"},
        {"rm Vessora.app/Contents/MacOS/Vessora", "ABORT: staged copy has no executable, installed app untouched"},
        {"chmod 644 Vessora.app/Contents/MacOS/Vessora",
         "ABORT: staged copy has no executable, installed app untouched"},
        {"echo evil > Vessora.app/Contents/Resources/notes.txt",
         "ABORT: staged signature invalid, installed app untouched"},
    };
    const std::string planted = writeText(dir / "planted.txt", "");
    ASSERT_EQ(::symlink(planted.c_str(), log.c_str()), 0);
    for (const auto& [spoil, logLine] : cases) {
        TempDir fresh;
        prepare(fresh / "Applications", fresh / "Corvane-update-1");
        std::string reason;
        auto before = BundleSignature::manifestFor(current, reason);
        ASSERT_EQ(shellIn(unpackFolder, spoil), 0);
        writeText(UpdateLog::path(), "");
        EXPECT_EQ(runScript(kNoSuchProcess), 1) << spoil;
        EXPECT_EQ(BundleSignature::manifestFor(current, reason), before) << spoil;
        EXPECT_FALSE(exists(current + ".old") || exists(unpackFolder)) << spoil;
        const std::string text = stateLog();
        EXPECT_NE(text.find(" install: " + std::string(logLine) + "\n"), std::string::npos) << spoil << "\n" << text;
        EXPECT_TRUE(text.ends_with(" install: relaunching the installed version\n")) << spoil << "\n" << text;
        // The verifier's own reason comes along, escaped, on one line.
        if (std::string(spoil).starts_with("echo")) {
            EXPECT_NE(text.find(" install: signature check: " + staged + ": the bundle's contents"), std::string::npos)
                << text;
        }
        EXPECT_TRUE(waitForMarker("old\n")) << spoil;
        ::unlink(marker.c_str());
        if (std::string(spoil).starts_with("rm -rf")) {
            // From here on the install log is an ordinary file of ours again.
            EXPECT_EQ(readText(planted), "");
            ::unlink(log.c_str());
        }
    }
    EXPECT_NE(readText(log).find("ABORT: staged signature invalid"), std::string::npos);
}

// The install log in /tmp is a shared name: only our own regular file with
// no other name is written to; whatever else stands there is left alone.
TEST_F(InstallScriptTest, InstallLogIsUsedOnlyWhenItIsOurOwnFile) {
    struct Case {
        const char* what;
        std::function<void(const std::string&)> make;
        bool used;
    };
    const std::string target = writeText(dir / "target.txt", "");
    std::vector<Case> cases = {
        {"absent", [](const std::string&) {}, true},
        {"our file", [](const std::string& p) { writeText(p, "earlier\n"); }, true},
        {"link", [&](const std::string& p) { ::symlink(target.c_str(), p.c_str()); }, false},
        {"second name", [&](const std::string& p) { ::link(target.c_str(), p.c_str()); }, false},
        {"pipe", [](const std::string& p) { ::mkfifo(p.c_str(), 0600); }, false},
    };
    if (isRoot())
        cases.push_back({"another account's file",
                         [](const std::string& p) {
                             writeText(p, "");
                             EXPECT_EQ(::chown(p.c_str(), 65534, 65534), 0);
                         },
                         false});
    int serial = 0;
    for (const Case& c : cases) {
        const std::string path = dir / ("log" + std::to_string(++serial));
        c.make(path);
        int fd = InstallScript::openInstallLog(path);
        EXPECT_EQ(fd >= 0, c.used) << c.what;
        if (fd >= 0) ::close(fd);
        EXPECT_EQ(readText(target), "") << c.what;
    }
}

TEST_F(InstallScriptTest, CopyThatFailsItsChecksIsRolledBack) {
    if (!isRoot()) GTEST_SKIP() << "needs root to mount a small tmpfs that fills up during the copy";
    std::string apps = dir / "small";
    ASSERT_TRUE(mountTmpfs(apps, 1 << 20));
    // The new copy does not fit beside the old one.
    prepare(apps, dir / "Corvane-update-1",
            [](const std::string& b) { writeFile(b + "/Contents/Resources/large.bin", 3 << 20); });
    EXPECT_EQ(runScript(kNoSuchProcess), 1);
    std::string text = readText(log);
    EXPECT_NE(text.find("restoring backup\nrestored"), std::string::npos) << text;
    EXPECT_EQ(installedVersion(), "resources of 1.0\n");
    EXPECT_TRUE(waitForMarker("old\n") && !exists(current + ".old") && !exists(unpackFolder));
    unmount(apps);
}

// Slow (about 30 seconds): the app never exits, so the script gives up.
TEST_F(InstallScriptTest, SlowAbortsAfterThirtySecondsWhileTheAppStillRuns) {
    prepare(dir / "Applications", dir / "Corvane-update-1");
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
    EXPECT_FALSE(exists(current + ".old") || exists(unpackFolder) || exists(marker));
}

} // namespace
} // namespace vessora::test
