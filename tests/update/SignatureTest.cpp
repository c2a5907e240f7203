// Bundle signatures: scripts/sign-bundle with the real minisign tool on one
// side, the in-process verifier on the other, and the app's own
// --verify-signature, which trusts only the release key.

#include "UpdateTestSupport.h"

#include "update/BundleSignature.h"
#include "update/UpdateLog.h"

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

    std::string signedBundle() {
        std::string bundle = makeBundle(dir / ("b" + std::to_string(++serial)), "Vessora.app", "2.0", "11");
        EXPECT_TRUE(signBundle(bundle, keys.teamSecret, ourTeam));
        return bundle;
    }
};

TEST_F(SignatureTest, ManifestListsEveryEntryWithTypeAndModeSortedByPathBytesOrRefuses) {
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
    for (const char* line :
         {"\nlink 0777 Contents/Resources/current -> notes.txt\n", "\nfile 0755 ", " Contents/MacOS/Vessora\n",
          "\nfolder 0755 Contents/Resources/empty folder\n", "\nfolder 0755 Contents/_CodeSignature\n", "\nfile 0600 "})
        EXPECT_NE(signedManifest.find(line), std::string::npos) << line;
    EXPECT_LT(signedManifest.find("Contents/Resources/Zed"), signedManifest.find("Contents/Resources/\xff"));
    EXPECT_EQ(signedManifest.find("CodeResources"), std::string::npos);
    auto result = BundleSignature::verify(bundle, pinned);
    EXPECT_EQ(std::tuple(result.valid, result.team), std::tuple(true, ourTeam)) << result.reason;
    // What cannot be listed cannot be signed.
    for (const char* spoil :
         {"touch \"Contents/two$(printf '\\nlines')\"", "mkfifo Contents/pipe", "chmod 2755 Contents/MacOS/Vessora"}) {
        const std::string spoilt = makeBundle(dir / ("s" + std::to_string(++serial)), "Vessora.app", "2.0", "11");
        ASSERT_EQ(shellIn(spoilt, spoil), 0);
        EXPECT_FALSE(signBundle(spoilt, keys.teamSecret, ourTeam) || BundleSignature::manifestFor(spoilt, reason))
            << spoil;
    }
}

TEST_F(SignatureTest, AnyChangeAfterSigningIsRefused) {
    const std::string sign = "M=Contents/_CodeSignature/CodeResources; minisign -S -s \"$KEY\" -m $M -x $M.minisig ";
    const std::pair<const char*, std::string> cases[] = {
        {"content", "echo evil > Contents/Resources/notes.txt"},
        {"extra file", "touch Contents/MacOS/helper"},
        {"extra empty folder", "mkdir Contents/Plugins"},
        {"extra in the signature folder", "touch Contents/_CodeSignature/extra"},
        {"missing", "rm Contents/Resources/notes.txt"},
        {"executable bit cleared", "chmod 644 Contents/MacOS/Vessora"},
        {"setuid bit added", "chmod 4755 Contents/MacOS/Vessora"},
        {"folder mode", "chmod 777 Contents"},
        {"file replaced by a link", "mv Contents/Info.plist .. && ln -s ../../Info.plist Contents/Info.plist"},
        {"link retargeted", "ln -sfn ../Info.plist Contents/Resources/current"},
        {"manifest edited", "echo 'folder 0755 Contents/none' >> Contents/_CodeSignature/CodeResources"},
        {"unsigned", "rm Contents/_CodeSignature/CodeResources.minisig"},
        // The signature files are outside the manifest, but held to its rules.
        {"setuid bit on the manifest", "chmod 4644 Contents/_CodeSignature/CodeResources"},
        {"sticky bit on the signature", "chmod 1644 Contents/_CodeSignature/CodeResources.minisig"},
        {"signature folder is a link to a valid one",
         "mv Contents/_CodeSignature ../elsewhere && ln -s \"$PWD/../elsewhere\" Contents/_CodeSignature"},
        {"trusted comment edited", "sed -i s/T4KQ9ZR2MX/Z9OTHER000/ Contents/_CodeSignature/CodeResources.minisig"},
        {"no team named", sign + "-t 'no team here'"},
        {"legacy algorithm", sign + "-l -t TeamIdentifier=T4KQ9ZR2MX"},
    };
    for (const auto& [what, change] : cases) {
        std::string bundle = signedBundle();
        ASSERT_EQ(shellIn(bundle, change), 0) << what;
        auto result = BundleSignature::verify(bundle, pinned);
        EXPECT_TRUE(!result.valid && !result.reason.empty()) << what;
    }
    EXPECT_TRUE(BundleSignature::verify(signedBundle(), pinned).valid);
    EXPECT_FALSE(BundleSignature::verify(signedBundle(), {}).valid);
    // An oversized manifest is refused for what it is.
    std::string huge = signedBundle();
    ASSERT_EQ(shellIn(huge, "truncate -s 65M Contents/_CodeSignature/CodeResources"), 0);
    EXPECT_NE(BundleSignature::verify(huge, pinned).reason.find("larger than 64 MiB"), std::string::npos);
}

TEST_F(SignatureTest, TheAppTrustsOnlyItsReleaseKeyAndEscapesWhatItPrints) {
    std::string bundle = signedBundle();
    std::string output;
    EXPECT_EQ(runProgram({VESSORA_APP, "--verify-signature", bundle}, &output), 1) << output;
    EXPECT_EQ(runProgram({VESSORA_APP, "--display-signature", bundle}, &output), 1) << output;
    EXPECT_EQ(runProgram({VESSORA_APP, "--verify-signature"}, &output), 2);

    // What the verifier prints ends up in the install logs: every value escaped,
    // C1 controls and bytes that are not UTF-8 included, so no path can forge a line.
    const std::string forged = dir / "x\nOK: updated, relaunching\xc2\x85\xc2\x9b\xff.app";
    makeDirs(forged);
    EXPECT_EQ(runProgram({VESSORA_APP, "--verify-signature", forged}, &output), 1);
    EXPECT_EQ(output, dir / "x\\x0aOK: updated, relaunching\\xc2\\x85\\xc2\\x9b\\xff.app: invalid signature: the "
                            "bundle is not signed\n");
    EXPECT_EQ(UpdateLog::escaped("caf\xc3\xa9 \\ \x1b[2J\x7f"), "caf\xc3\xa9 \\\\ \\x1b[2J\\x7f");
}

} // namespace
} // namespace vessora::test
