#include "AppFixtures.h"
#include "TestSupport.h"
#include "apps/RunningApps.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

using namespace vessora;

namespace {

std::vector<int> pids(const std::vector<RunningApps::RunningApp>& apps) {
    std::vector<int> out;
    for (const auto& app : apps) out.push_back(app.pid);
    return out;
}

void linkExe(const std::string& procRoot, int pid, const std::string& target) {
    test::makeDirs(procRoot + "/" + std::to_string(pid));
    ASSERT_EQ(::symlink(target.c_str(), (procRoot + "/" + std::to_string(pid) + "/exe").c_str()), 0);
}

} // namespace

// A fake /proc: executables inside bundles, a helper deep inside one, a
// process outside any bundle, Flatpak sandboxes and a planted FIFO.
TEST(RunningApps, MatchesBundleExecutablesAndFlatpakIds) {
    test::TempDir dir;
    const std::string messages = test::makeBundle(
        dir / "Apps/Messages.app", {{"CFBundleIdentifier", "com.apple.MobileSMS"}, {"CFBundleName", "Messages"}});
    test::makeBundle(dir / "Apps/Other.app", {{"CFBundleIdentifier", "com.example.other"}});
    const std::string proc = dir / "proc";
    linkExe(proc, 100, messages + "/Contents/MacOS/Messages");
    linkExe(proc, 101, messages + "/Contents/Frameworks/Helper.app/Contents/MacOS/Helper (deleted)");
    linkExe(proc, 200, dir / "Apps/Other.app/Contents/MacOS/Other");
    linkExe(proc, 300, "/usr/bin/com.apple.MobileSMS");
    test::writeText(proc + "/400/root/.flatpak-info", "[Application]\nname=org.signal.Signal\nruntime=x\n");
    test::writeText(proc + "/401/root/.flatpak-info", "[Instance]\nname=com.apple.MobileSMS\n");
    test::makeDirs(proc + "/402/root");
    ASSERT_EQ(::mkfifo((proc + "/402/root/.flatpak-info").c_str(), 0600), 0);
    test::makeDirs(proc + "/self");

    const auto found = RunningApps::find("com.apple.MobileSMS", proc);
    auto foundPids = pids(found);
    std::sort(foundPids.begin(), foundPids.end());
    ASSERT_EQ(foundPids, (std::vector<int>{100, 101}));
    for (const auto& app : found) EXPECT_EQ(std::tie(app.bundlePath, app.name), std::tuple(messages, "Messages"));
    EXPECT_EQ(pids(RunningApps::find("org.signal.Signal", proc)), std::vector<int>{400});
    EXPECT_FALSE(RunningApps::isRunning("com.example.absent", proc) || RunningApps::isRunning("", proc) ||
                 RunningApps::isRunning("com.apple.MobileSMS", dir / "no-proc"));
}

// A real process whose executable is a copy of sleep inside a fake bundle.
TEST(RunningApps, SeesARealProcessInsideABundleUntilItEnds) {
    test::TempDir dir;
    const std::string bundle = test::makeBundle(dir / "Messages.app", {{"CFBundleIdentifier", "com.apple.MobileSMS"}});
    const pid_t child = test::startSleepingCopy(bundle + "/Contents/MacOS/Messages", "Messages");
    ASSERT_GT(child, 0);
    bool seen = false;
    for (int i = 0; i < 200 && !seen; ++i, ::usleep(10'000)) {
        for (const auto& app : RunningApps::find("com.apple.MobileSMS")) seen = seen || app.pid == child;
    }
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    EXPECT_TRUE(seen);
    for (const auto& app : RunningApps::find("com.apple.MobileSMS")) EXPECT_NE(app.pid, child);
}
