#include "support/Paths.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace vessora;

TEST(Paths, StandardizeAndComponents) {
    test::ScopedEnv home("HOME", "/home/ada");
    EXPECT_EQ(Paths::standardize(""), "");
    EXPECT_EQ(Paths::standardize("/"), "/");
    EXPECT_EQ(Paths::standardize("~"), "/home/ada");
    EXPECT_EQ(Paths::standardize("~/Documents/"), "/home/ada/Documents");
    EXPECT_EQ(Paths::standardize("/a//b/./c/"), "/a/b/c");
    EXPECT_EQ(Paths::standardize("/a/b/../c"), "/a/c");
    EXPECT_EQ(Paths::standardize("/../.."), "/");
    EXPECT_EQ(Paths::standardize("a/../b"), "a/../b") << "relative .. is left alone";
    EXPECT_EQ(Paths::standardize("~ada/x"), "~ada/x");
    // A folder named "~" keeps its "./", so a second pass cannot expand it.
    EXPECT_EQ(Paths::standardize("./~"), "./~");
    EXPECT_EQ(Paths::standardize("./~/a/"), "./~/a");
    EXPECT_EQ(Paths::join("/a", "b"), "/a/b");
    EXPECT_EQ(Paths::join("/a/", "/b/"), "/a/b");
    EXPECT_EQ(Paths::join("/", "b"), "/b");
    EXPECT_EQ(Paths::lastComponent("/a/b/"), "b");
    EXPECT_EQ(Paths::lastComponent("/"), "/");
    EXPECT_EQ(Paths::parent("/a/b"), "/a");
    EXPECT_EQ(Paths::parent("/a"), "/");
    EXPECT_EQ(Paths::extension("/x/a.tar.gz"), "gz");
    EXPECT_EQ(Paths::extension("/x/.profile"), "");
    EXPECT_EQ(Paths::extension("Foo.app/"), "app");
    EXPECT_EQ(Paths::deletingExtension("/x/com.a.b.plist"), "/x/com.a.b");
    EXPECT_TRUE(Paths::isInside("/a/b/c", "/a/b"));
    EXPECT_TRUE(Paths::isInside("/a/b/", "/a/b"));
    EXPECT_FALSE(Paths::isInside("/a/bc", "/a/b"));
}

TEST(Paths, HomeDocumentsAndBaseFolders) {
    test::TempDir dir;
    test::ScopedEnv home("HOME", dir.path());
    test::ScopedEnv config("XDG_CONFIG_HOME", std::nullopt);
    EXPECT_EQ(Paths::home(), dir.path());
    EXPECT_EQ(Paths::documentsFolder(), dir.path() + "/Documents");
    test::writeText(dir / ".config/user-dirs.dirs",
                    "# comment\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\nXDG_DOCUMENTS_DIR=\"$HOME/Papiere\"\n");
    EXPECT_EQ(Paths::documentsFolder(), dir.path() + "/Papiere");
    // A Documents entry pointing at the home folder itself means "not set".
    test::writeText(dir / ".config/user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"$HOME/\"\n");
    EXPECT_EQ(Paths::documentsFolder(), dir.path() + "/Documents");
    {
        test::ScopedEnv noHome("HOME", std::nullopt);
        EXPECT_FALSE(Paths::home().empty()) << "falls back to the password database";
    }
    // Base folders: relative ones ignored, separators tidied.
    test::ScopedEnv ada("HOME", "/home/ada/");
    test::ScopedEnv data("XDG_DATA_HOME", std::nullopt);
    test::ScopedEnv relative("XDG_CONFIG_HOME", "relative/is/ignored");
    test::ScopedEnv cache("XDG_CACHE_HOME", "/var/cache//ada/");
    test::ScopedEnv state("XDG_STATE_HOME", "");
    EXPECT_EQ(Paths::dataHome(), "/home/ada/.local/share");
    EXPECT_EQ(Paths::configHome(), "/home/ada/.config");
    EXPECT_EQ(Paths::cacheHome(), "/var/cache/ada");
    EXPECT_EQ(Paths::stateHome(), "/home/ada/.local/state");
    EXPECT_EQ(Paths::stateFolder(), "/home/ada/.local/state/vessora");
}
