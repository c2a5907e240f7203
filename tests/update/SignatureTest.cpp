// Bundle signatures: scripts/sign-bundle with the real minisign tool on one
// side, the in-process verifier on the other, and the app's own
// --verify-signature, which trusts only the release key.

#include "UpdateTestSupport.h"

#include "update/BundleSignature.h"

#include <gtest/gtest.h>

namespace vessora::test {
namespace {

class SignatureTest : public ::testing::Test {
protected:
    TempDir dir;
    const Keys& keys = Keys::shared();
    BundleSignature::PinnedKeys pinned{{ourTeam, readText(Keys::shared().teamPublic)},
                                       {otherTeam, readText(Keys::shared().otherPublic)}};
};

TEST_F(SignatureTest, ManifestListsEveryFileAndLinkSortedByPathBytes) {
    std::string bundle = makeBundle(dir.path(), "Vessora.app", "2.0", "11");
    // Names the signer (Python) and the verifier (C++) must treat alike:
    // spaces, quotes, bytes that are not UTF-8 and sort above ASCII.
    writeText(bundle + "/Contents/Resources/it's a \"name\".txt", "q");
    writeText(bundle + "/Contents/Resources/\xff\xfe raw", "r");
    writeText(bundle + "/Contents/Resources/Zed", "z");
    makeDirs(bundle + "/Contents/Resources/empty folder");
    ASSERT_TRUE(signBundle(bundle, keys.teamSecret, ourTeam));
    std::string signedManifest = readText(bundle + "/" + BundleSignature::manifestPath);
    std::string reason;
    EXPECT_EQ(BundleSignature::manifestFor(bundle, reason), signedManifest) << reason;
    EXPECT_NE(signedManifest.find("link Contents/Resources/current -> notes.txt\n"), std::string::npos);
    EXPECT_NE(signedManifest.find("  Contents/MacOS/Vessora\n"), std::string::npos);
    EXPECT_LT(signedManifest.find("Contents/Resources/Zed"), signedManifest.find("Contents/Resources/\xff"));
    EXPECT_EQ(signedManifest.find("_CodeSignature"), std::string::npos);

    auto result = BundleSignature::verify(bundle, pinned);
    EXPECT_TRUE(result.valid) << result.reason;
    EXPECT_EQ(result.team, ourTeam);
}

TEST_F(SignatureTest, MalformedOrMisplacedSignaturesAreRefused) {
    std::string bundle = makeBundle(dir / "a", "Vessora.app", "2.0", "11");
    ASSERT_TRUE(signBundle(bundle, keys.teamSecret, ourTeam));
    std::string sigPath = bundle + "/" + BundleSignature::signaturePath;
    std::string original = readText(sigPath);

    // A trusted comment that names no team.
    std::string plain = makeBundle(dir / "b", "Vessora.app", "2.0", "11");
    ASSERT_TRUE(signBundle(plain, keys.teamSecret, ourTeam));
    std::string manifest = plain + "/" + BundleSignature::manifestPath;
    std::string output;
    ASSERT_EQ(runProgram({"minisign", "-S", "-s", keys.teamSecret, "-m", manifest, "-x",
                          plain + "/" + BundleSignature::signaturePath, "-t", "no team here"},
                         &output),
              0);
    EXPECT_FALSE(BundleSignature::verify(plain, pinned).valid);

    // The legacy algorithm (Ed25519 over the whole message) is not accepted.
    ASSERT_EQ(runProgram({"minisign", "-S", "-l", "-s", keys.teamSecret, "-m", manifest, "-x",
                          plain + "/" + BundleSignature::signaturePath, "-t", "TeamIdentifier=T4KQ9ZR2MX"},
                         &output),
              0);
    EXPECT_FALSE(BundleSignature::verify(plain, pinned).valid);

    // The trusted comment is bound to the signature: editing it breaks it.
    std::string edited = original;
    edited.replace(edited.find(ourTeam), std::string(ourTeam).size(), otherTeam);
    writeText(sigPath, edited);
    EXPECT_FALSE(BundleSignature::verify(bundle, pinned).valid);
    writeText(sigPath, original);
    EXPECT_TRUE(BundleSignature::verify(bundle, pinned).valid);

    // The signature folder replaced by a link to a valid one elsewhere.
    std::string elsewhere = dir / "elsewhere";
    ASSERT_EQ(::rename((bundle + "/Contents/_CodeSignature").c_str(), elsewhere.c_str()), 0);
    ASSERT_EQ(::symlink(elsewhere.c_str(), (bundle + "/Contents/_CodeSignature").c_str()), 0);
    EXPECT_FALSE(BundleSignature::verify(bundle, pinned).valid);

    // Garbage signature file, no keys pinned, a bundle that is a link.
    writeText(plain + "/" + BundleSignature::signaturePath, "untrusted comment: x\nnot base64\n");
    EXPECT_FALSE(BundleSignature::verify(plain, pinned).valid);
    std::string good = makeBundle(dir / "c", "Vessora.app", "2.0", "11");
    ASSERT_TRUE(signBundle(good, keys.teamSecret, ourTeam));
    EXPECT_FALSE(BundleSignature::verify(good, {}).valid);
    ::symlink(good.c_str(), (dir / "link.app").c_str());
    EXPECT_FALSE(BundleSignature::verify(dir / "link.app", pinned).valid);
    EXPECT_TRUE(BundleSignature::verify(good, pinned).valid);
}

TEST_F(SignatureTest, UnlistableContentsCannotBeSigned) {
    std::string bundle = makeBundle(dir.path(), "Vessora.app", "2.0", "11");
    writeText(bundle + "/Contents/Resources/two\nlines", "x");
    EXPECT_FALSE(signBundle(bundle, keys.teamSecret, ourTeam));
    std::string reason;
    EXPECT_FALSE(BundleSignature::manifestFor(bundle, reason));
    EXPECT_NE(reason.find("line break"), std::string::npos);

    std::string fifo = makeBundle(dir / "f", "Vessora.app", "2.0", "11");
    ASSERT_EQ(::mkfifo((fifo + "/Contents/pipe").c_str(), 0600), 0);
    EXPECT_FALSE(signBundle(fifo, keys.teamSecret, ourTeam));
    EXPECT_FALSE(BundleSignature::manifestFor(fifo, reason));
}

TEST_F(SignatureTest, TheAppTrustsOnlyItsReleaseKey) {
    std::string bundle = makeBundle(dir.path(), "Vessora.app", "2.0", "11");
    ASSERT_TRUE(signBundle(bundle, keys.teamSecret, ourTeam));
    std::string output;
    EXPECT_EQ(runProgram({VESSORA_APP, "--verify-signature", bundle}, &output), 1) << output;
    EXPECT_EQ(runProgram({VESSORA_APP, "--display-signature", bundle}, &output), 1) << output;
    EXPECT_EQ(runProgram({VESSORA_APP, "--verify-signature"}, &output), 2);
}

} // namespace
} // namespace vessora::test
