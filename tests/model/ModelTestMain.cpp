// The model needs an application object and its event loop on the main
// thread; the tests run on that thread and spin the loop while they wait.

#include "ModelTestSupport.h"
#include "apps/AppInventory.h"
#include "support/Paths.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace vessora::test {

namespace {
std::string* suiteHomePath = nullptr;
} // namespace

const std::string& suiteHome() { return *suiteHomePath; }

} // namespace vessora::test

int main(int argc, char** argv) {
    using namespace vessora;
    QCoreApplication application(argc, argv);
    // Saved scans and the setting that keeps them go below each test's home.
    qunsetenv("XDG_STATE_HOME");
    qunsetenv("XDG_CONFIG_HOME");
    // A death test's child runs one test again and must leave nothing behind
    // when it aborts; the one death test here needs no folders. (Read before
    // InitGoogleTest, which takes its own flags out of argv.)
    bool deathTestChild = false;
    for (int i = 1; i < argc; ++i)
        if (std::string(argv[i]).find("internal_run_death_test") != std::string::npos) deathTestChild = true;

    ::testing::InitGoogleTest(&argc, argv);
    // Threads are running (the model's pools), so a death test re-runs the
    // binary instead of forking it.
    GTEST_FLAG_SET(death_test_style, "threadsafe");

    // The inventory fixes the user's application folder on first use, so the
    // whole suite shares one home folder for the application tests.
    std::optional<test::TempDir> folder;
    std::optional<test::ScopedEnv> homeEnv;
    std::string home = Paths::home();
    if (!deathTestChild) {
        folder.emplace();
        home = *folder / "home";
        test::makeDirs(home + "/Applications");
        homeEnv.emplace("HOME", home);
    }
    test::suiteHomePath = &home;
    AppInventory::userAppRoots();

    return RUN_ALL_TESTS();
}
