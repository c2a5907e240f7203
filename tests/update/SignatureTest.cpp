// Bundle signatures: scripts/sign-bundle with the real minisign tool on one
// side, the in-process verifier on the other, and the app's own
// --verify-signature, which trusts only the release key.

#include "UpdateTestSupport.h"

#include "update/BundleSignature.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

namespace vessora::test {
namespace {

class SignatureTest : public ::testing::Test {
protected:
    TempDir dir;
    const Keys& keys = Keys::shared();
    BundleSignature::PinnedKeys pinned{{ourTeam, readText(Keys::shared().teamPublic)},
                                       {otherTeam, readText(Keys::shared().otherPublic)}};
    int serial = 0;

    // Signs the bundle's manifest again with our key and other minisign options.
    void resign(const std::string& bundle, const std::vector<std::string>& options) {
        std::vector<std::string> command = {"minisign", "-S", "-s", keys.teamSecret, "-m",
                                            bundle + "/" + BundleSignature::manifestPath, "-x",
                                            bundle + "/" + BundleSignature::signaturePath};
        command.insert(command.end(), options.begin(), options.end());
        std::string output;
        ASSERT_EQ(runProgram(command, &output), 0) << output;
    }

    std::string signedBundle() {
        std::string bundle = makeBundle(dir / ("b" + std::to_string(++serial)), "Vessora.app", "2.0", "11");
        EXPECT_TRUE(signBundle(bundle, keys.teamSecret, ourTeam));
        return bundle;
    }
};

TEST_F(SignatureTest, ManifestListsEveryEntryWithTypeAndModeSortedByPathBytes) {
    std::string bundle = makeBundle(dir.path(), "Vessora.app", "2.0", "11");
    // Names the signer (Python) and the verifier (C++) must treat alike:
    // spaces, quotes, bytes that are not UTF-8 and sort above ASCII.
    writeText(bundle + "/Contents/Resources/it's a \"name\".txt", "q");
    writeText(bundle + "/Contents/Resources/\xff\xfe raw", "r");
    writeText(bundle + "/Contents/Resources/Zed", "z");
    makeDirs(bundle + "/Contents/Resources/empty folder");
    ::chmod((bundle + "/Contents/Resources/Zed").c_str(), 0600);
    ASSERT_TRUE(signBundle(bundle, keys.teamSecret, ourTeam));
    std::string signedManifest = readText(bundle + "/" + BundleSignature::manifestPath);
    std::string reason;
    EXPECT_EQ(BundleSignature::manifestFor(bundle, reason), signedManifest) << reason;
    EXPECT_TRUE(signedManifest.starts_with(std::string(BundleSignature::manifestHeader) + "folder 0755 .\n"));
    for (const char* line : {"\nlink 0777 Contents/Resources/current -> notes.txt\n", "\nfile 0755 ",
                             " Contents/MacOS/Vessora\n", "\nfolder 0755 Contents/Resources/empty folder\n",
                             "\nfolder 0755 Contents/_CodeSignature\n", "\nfile 0600 "})
        EXPECT_NE(signedManifest.find(line), std::string::npos) << line;
    EXPECT_LT(signedManifest.find("Contents/Resources/Zed"), signedManifest.find("Contents/Resources/\xff"));
    EXPECT_EQ(signedManifest.find("CodeResources"), std::string::npos);
    auto result = BundleSignature::verify(bundle, pinned);
    EXPECT_TRUE(result.valid) << result.reason;
    EXPECT_EQ(result.team, ourTeam);
}

TEST_F(SignatureTest, AnyChangeAfterSigningIsRefused) {
    struct Case {
        const char* what;
        std::function<void(const std::string&)> change;
    } cases[] = {
        {"content", [](const std::string& b) { writeText(b + "/Contents/Resources/notes.txt", "evil\n"); }},
        {"extra file", [](const std::string& b) { writeText(b + "/Contents/MacOS/helper", "#!/bin/sh\n"); }},
        {"extra empty folder", [](const std::string& b) { makeDirs(b + "/Contents/Plugins"); }},
        {"extra in the signature folder",
         [](const std::string& b) { writeText(b + "/Contents/_CodeSignature/extra", "x"); }},
        {"missing", [](const std::string& b) { ::unlink((b + "/Contents/Resources/notes.txt").c_str()); }},
        {"executable bit cleared", [](const std::string& b) { ::chmod((b + "/Contents/MacOS/Vessora").c_str(), 0644); }},
        {"setuid bit added", [](const std::string& b) { ::chmod((b + "/Contents/MacOS/Vessora").c_str(), 04755); }},
        {"folder mode", [](const std::string& b) { ::chmod((b + "/Contents").c_str(), 0777); }},
        {"file replaced by a link",
         [](const std::string& b) {
             std::string notes = b + "/Contents/Resources/notes.txt";
             ::rename(notes.c_str(), (b + "/notes.txt").c_str());
             ::symlink("../../notes.txt", notes.c_str());
         }},
        {"link retargeted",
         [](const std::string& b) {
             ::unlink((b + "/Contents/Resources/current").c_str());
             ::symlink("../Info.plist", (b + "/Contents/Resources/current").c_str());
         }},
        {"manifest edited",
         [](const std::string& b) {
             std::string m = b + "/" + BundleSignature::manifestPath;
             writeText(m, readText(m) + "folder 0755 Contents/none\n");
         }},
        {"unsigned", [](const std::string& b) { ::unlink((b + "/" + BundleSignature::signaturePath).c_str()); }},
        {"signature folder is a link to a valid one",
         [this](const std::string& b) {
             std::string elsewhere = dir / ("elsewhere" + std::to_string(++serial));
             ::rename((b + "/Contents/_CodeSignature").c_str(), elsewhere.c_str());
             ::symlink(elsewhere.c_str(), (b + "/Contents/_CodeSignature").c_str());
         }},
        {"no team named", [this](const std::string& b) { resign(b, {"-t", "no team here"}); }},
        {"legacy algorithm", [this](const std::string& b) { resign(b, {"-l", "-t", "TeamIdentifier=T4KQ9ZR2MX"}); }},
        {"trusted comment edited",
         [](const std::string& b) {
             std::string s = b + "/" + BundleSignature::signaturePath, text = readText(s);
             writeText(s, text.replace(text.find(ourTeam), std::string(ourTeam).size(), otherTeam));
         }},
    };
    for (const Case& c : cases) {
        std::string bundle = signedBundle();
        c.change(bundle);
        auto result = BundleSignature::verify(bundle, pinned);
        EXPECT_FALSE(result.valid) << c.what;
        EXPECT_FALSE(result.reason.empty()) << c.what;
    }
    EXPECT_TRUE(BundleSignature::verify(signedBundle(), pinned).valid);
    EXPECT_FALSE(BundleSignature::verify(signedBundle(), {}).valid);
}

TEST_F(SignatureTest, WhatCannotBeListedCannotBeSigned) {
    const std::function<void(const std::string&)> spoilers[] = {
        [](const std::string& b) { writeText(b + "/Contents/Resources/two\nlines", "x"); },
        [](const std::string& b) { ::mkfifo((b + "/Contents/pipe").c_str(), 0600); },
        [](const std::string& b) { ::chmod((b + "/Contents/MacOS/Vessora").c_str(), 02755); },
    };
    for (const auto& spoil : spoilers) {
        std::string bundle = makeBundle(dir / ("s" + std::to_string(++serial)), "Vessora.app", "2.0", "11");
        spoil(bundle);
        EXPECT_FALSE(signBundle(bundle, keys.teamSecret, ourTeam)) << serial;
        std::string reason;
        EXPECT_FALSE(BundleSignature::manifestFor(bundle, reason)) << serial;
    }
}

TEST_F(SignatureTest, TheAppTrustsOnlyItsReleaseKey) {
    std::string bundle = signedBundle();
    std::string output;
    EXPECT_EQ(runProgram({VESSORA_APP, "--verify-signature", bundle}, &output), 1) << output;
    EXPECT_EQ(runProgram({VESSORA_APP, "--display-signature", bundle}, &output), 1) << output;
    EXPECT_EQ(runProgram({VESSORA_APP, "--verify-signature"}, &output), 2);
}

} // namespace
} // namespace vessora::test
