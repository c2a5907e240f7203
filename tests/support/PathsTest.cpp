#include "support/Paths.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace vessora;

TEST(Paths, StandardizeAndComponents) {
    test::ScopedEnv home("HOME", "/home/ada");
    // Each path, then its standardized form. A relative ".." is left alone; a
    // folder named "~" keeps its "./", so a second pass cannot expand it.
    const char* cases[] = {
        "",       "",       "/",         "/",    "~",      "/home/ada", "~/Documents/", "/home/ada/Documents",
        "/../..", "/",      "/a/b/../c", "/a/c", "a/../b", "a/../b",    "/a//b/./c/",   "/a/b/c",
        "~ada/x", "~ada/x", "./~",       "./~",  "./~/a/", "./~/a"};
    for (size_t i = 0; i < std::size(cases); i += 2) EXPECT_EQ(Paths::standardize(cases[i]), cases[i + 1]) << cases[i];
    EXPECT_EQ(Paths::join("/a", "b") + Paths::join("/a/", "/b/") + Paths::join("/", "b"), "/a/b/a/b/b");
    EXPECT_EQ(std::tuple(Paths::lastComponent("/a/b/"), Paths::lastComponent("/")), std::tuple("b", "/"));
    EXPECT_EQ(std::tuple(Paths::parent("/a/b"), Paths::parent("/a")), std::tuple("/a", "/"));
    EXPECT_EQ(
        std::tuple(Paths::extension("/x/a.tar.gz"), Paths::extension("/x/.profile"), Paths::extension("Foo.app/")),
        std::tuple("gz", "", "app"));
    EXPECT_EQ(Paths::deletingExtension("/x/com.a.b.plist"), "/x/com.a.b");
    EXPECT_TRUE(Paths::isInside("/a/b/c", "/a/b") && Paths::isInside("/a/b/", "/a/b"));
    EXPECT_FALSE(Paths::isInside("/a/bc", "/a/b"));
}

TEST(Paths, HomeDocumentsAndBaseFolders) {
    test::TempDir dir;
    test::ScopedEnv home("HOME", dir.path()), config("XDG_CONFIG_HOME", std::nullopt);
    EXPECT_EQ(std::tuple(Paths::home(), Paths::documentsFolder()), std::tuple(dir.path(), dir.path() + "/Documents"));
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
    test::ScopedEnv ada("HOME", "/home/ada/"), data("XDG_DATA_HOME", std::nullopt),
        relative("XDG_CONFIG_HOME", "relative/is/ignored"), cache("XDG_CACHE_HOME", "/var/cache//ada/"),
        state("XDG_STATE_HOME", "");
    EXPECT_EQ(std::tuple(Paths::dataHome(), Paths::configHome(), Paths::cacheHome(), Paths::stateHome()),
              std::tuple("/home/ada/.local/share", "/home/ada/.config", "/var/cache/ada", "/home/ada/.local/state"));
    EXPECT_EQ(Paths::stateFolder(), "/home/ada/.local/state/vessora");
}
