#pragma once
// What the updater's tests share: a real HTTPS feed server on 127.0.0.1 with
// a certificate made at start, minisign keys made at start, signed test
// bundles, zip archives, and waiting on the event loop.

#include "TestSupport.h"
#include "update/Updater.h"

#include <QList>
#include <QSslCertificate>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <ostream>

namespace vessora {
// Readable states in test failures.
inline void PrintTo(const UpdateState& state, std::ostream* out) { *out << state.debugText().toStdString(); }
} // namespace vessora

namespace vessora::test {

inline constexpr const char* ourTeam = "T4KQ9ZR2MX";
inline constexpr const char* otherTeam = "Z9OTHER000";

// Made once per test process and removed at exit.
struct Keys {
    std::string teamPublic, teamSecret;   // pinned for our team
    std::string otherPublic, otherSecret; // pinned for another team
    std::string strayPublic, straySecret; // pinned for nobody
    static const Keys& shared();
};

// The HTTPS server, started on first use; it ends with the test process.
class FeedServer {
public:
    static FeedServer& shared();
    QUrl url(const std::string& path) const; // path below the root, without a leading "/"
    // Writes a file the server then serves (and ".status" / ".redirect" siblings).
    void put(const std::string& path, const std::string& contents) const;
    const QList<QSslCertificate>& certificates() const { return certificates_; }
    const std::string& caFile() const { return certFile_; }
    // A folder name below the root no other test of any process has used.
    static std::string freshFolder(const std::string& prefix);

private:
    FeedServer();
    std::unique_ptr<TempDir> dir_;
    std::string root_, certFile_;
    int port_ = 0;
    QList<QSslCertificate> certificates_;
};

// Creates Name.app in `folder` with an Info.plist (version, build, the
// executable's name) and an executable Contents/MacOS/<executable> that, given --verify-signature PATH,
// checks PATH with the test binary and the key pinned for our team (as the
// real app does with the release key), and otherwise appends "<tag>" to
// `marker`. Also a resource file and a link to it. Returns the bundle path.
std::string makeBundle(const std::string& folder, const std::string& name, const std::string& version,
                       const std::string& build, const std::string& marker = "/dev/null",
                       const std::string& tag = "launched", const std::string& executable = "Vessora");
// Runs a shell command in `folder` with KEY set to our team's secret key;
// returns its exit status.
int shellIn(const std::string& folder, const std::string& command);
// scripts/sign-bundle with a secret key; true when it succeeded.
bool signBundle(const std::string& bundle, const std::string& secretKey, const std::string& team);
// An Info.plist-only bundle for the running app (the updater reads its build).
std::string makeInstalledInfo(const std::string& folder, const std::string& build, const std::string& version = "1.0");

// Writes a zip with make_zip.py from a JSON list of entries.
void makeZip(const std::string& out, const std::string& entriesJson);
// A zip at `out` holding `bundle` at its top, then `extraEntries` (JSON
// entries, each led by a comma). Returns `out`.
std::string zipBundle(const std::string& bundle, const std::string& out, const std::string& extraEntries = {});
// Publishes a feed in a fresh folder offering build 11 ("2.0") as update.zip
// there, with `sha256` when given; `archive` is served as that file unless it
// is empty; `extraKeys` (JSON, led by a comma) join the feed. Returns the feed's URL.
QUrl publishBuild(const std::string& prefix, const std::string& archive, const std::optional<std::string>& sha256 = {},
                  const std::string& extraKeys = {});

// The updater under test: the local feed, its CA, our keys, a running app
// whose build is `build`, a system description file.
std::unique_ptr<Updater> makeUpdater(const QUrl& feed, const std::string& installedBundle,
                                     const std::string& osRelease = {});

// Runs the event loop until `done` or the timeout; returns done().
bool waitUntil(const std::function<bool()>& done, int timeoutMs = 20000);
// Waits until the updater leaves checking / downloading.
bool settle(Updater& updater, int timeoutMs = 20000);

// This test binary's own path (bundle executables call it back to verify).
std::string selfPath();

} // namespace vessora::test
