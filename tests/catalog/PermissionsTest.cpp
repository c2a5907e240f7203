#include "catalog/Permissions.h"

#include "TestSupport.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace vessora;

TEST(Permissions, LinuxHasNoPrivacyGate) { EXPECT_TRUE(Permissions::hasFullDiskAccess()); }

TEST(Permissions, ProbeReadsPrivacyDatabaseThenMessagesFolder) {
    test::TempDir home;
    const std::string database = home / "Library/Application Support/com.apple.TCC/TCC.db";
    const std::string messages = home / "Library/Messages";
    if (test::exists("/Library/Application Support/com.apple.TCC/TCC.db"))
        GTEST_SKIP() << "this machine has a system privacy database";

    EXPECT_FALSE(Permissions::probeFullDiskAccess(home.path())) << "nothing to probe";

    test::makeDirs(messages);
    EXPECT_TRUE(Permissions::probeFullDiskAccess(home.path()));

    // A caller who may not list the Messages folder has no access...
    ::chmod(messages.c_str(), 0);
    EXPECT_EQ(test::runAsUnprivileged([&] { return Permissions::probeFullDiskAccess(home.path()) ? 1 : 0; }), 0);
    // ...unless a readable privacy database proves it first.
    test::writeFile(database, 4096);
    ::chmod(database.c_str(), 0644);
    EXPECT_EQ(test::runAsUnprivileged([&] { return Permissions::probeFullDiskAccess(home.path()) ? 1 : 0; }), 1);
    // An unreadable database is passed over for the folder.
    ::chmod(database.c_str(), 0600);
    ::chmod(messages.c_str(), 0755);
    EXPECT_EQ(test::runAsUnprivileged([&] { return Permissions::probeFullDiskAccess(home.path()) ? 1 : 0; }), 1);
    ::chmod(messages.c_str(), 0);
    EXPECT_EQ(test::runAsUnprivileged([&] { return Permissions::probeFullDiskAccess(home.path()) ? 1 : 0; }), 0);
    ::chmod(messages.c_str(), 0755);
}
