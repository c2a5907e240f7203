#pragma once
// The self-updater: checks the feed, downloads and verifies the offered build,
// stages it, and hands it to a detached install script when the user asks.
// Lives on the main thread. Network waits happen inside Qt; the digest, the
// unpacking, the signature check and the package database lookup run on a
// worker of the updater's own pool on copies of what they need, and hand their
// result back through its main-thread queue (Async), so the window never waits
// for them. Nothing it has not verified is ever run or installed: the archive
// is checked against the feed's digest, unpacked with every entry name
// checked, and the bundle inside must carry a valid signature by the key
// pinned for this app's team, and its own build must be the feed's and newer
// than the installed one; the install script checks the staged copy again
// with the installed app's own verifier before touching anything. Every
// refusal reason is appended to UpdateLog.
//
// A copy that a package manager installed is never replaced by the updater:
// when the build turned self-updating off (VESSORA_SELF_UPDATE), or the app's
// folder lies under /usr or is listed in dpkg's database, nothing is checked,
// downloaded or installed, and an asked-for check says so (packageManaged).

#include "update/ArchiveUnpacker.h"
#include "update/BundleSignature.h"
#include "update/UpdateError.h"
#include "update/UpdateManifest.h"
#include "update/UpdateState.h"

#include "model/Async.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QSslCertificate>
#include <QThreadPool>
#include <QUrl>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

class QNetworkAccessManager;
class QNetworkReply;
class QNetworkRequest;

namespace vessora {

// A step's result: the value, or the sentence for the user.
template <class T> struct Outcome {
    std::optional<T> value;
    QString failure;
    static Outcome success(T v) { return {std::move(v), {}}; }
    static Outcome fail(QString message) { return {std::nullopt, std::move(message)}; }
    static Outcome fail(UpdateError error) { return {std::nullopt, description(error)}; }
    explicit operator bool() const { return value.has_value(); }
};

class Updater : public QObject {
    Q_OBJECT

public:
    using PinnedKeys = BundleSignature::PinnedKeys;

    // The feed is refused when it is longer than this.
    static constexpr int64_t maxFeedBytes = 1 << 20;
    // The name the verified bundle gets in its unpack folder, whatever the
    // archive called it.
    static constexpr const char* stagedName = "Vessora.app";

    // The build settings: feed, the release key pinned for the app's team, the team.
    static QUrl buildFeedUrl();
    static PinnedKeys releaseKeys();
    // Certificate authorities the build adds for the feed (none in releases).
    static QList<QSslCertificate> buildExtraCaCertificates();
    static std::string expectedTeam();
    // Whether this build may replace itself at all (off in distribution packages).
    static bool selfUpdateBuilt();
    // What an asked-for check says when a package manager owns this copy.
    static QString packageManagedMessage();

    // How long the network may take: a whole feed check, and a download that
    // must bring at least `stallBytes` in every `stallMs` or it has stalled.
    struct Deadlines {
        int checkMs = 30'000;
        int stallMs = 60'000;
        int64_t stallBytes = 16 * 1024;
    };

    // `extraCaCertificates` are trusted in addition to the system's for this
    // updater's connections only; certificate errors are never ignored.
    explicit Updater(QUrl feedUrl = buildFeedUrl(), PinnedKeys pinnedKeys = releaseKeys(),
                     QList<QSslCertificate> extraCaCertificates = buildExtraCaCertificates(),
                     QObject* parent = nullptr);
    ~Updater() override;

    // Where the installed app and the system description live. They default to
    // the running app's folder and /etc/os-release; tests point them at
    // temporary copies. Neither affects what is accepted as signed.
    void setBundlePath(std::string path) {
        bundlePath_ = std::move(path);
        packageManaged_.reset();
    }
    const std::string& bundlePath() const { return bundlePath_; }
    void setOsReleasePath(std::string path) { osReleasePath_ = std::move(path); }
    // dpkg's database folder, "/var/lib/dpkg" unless a test gives another.
    void setDpkgDatabase(std::string root) {
        dpkgDatabase_ = std::move(root);
        packageManaged_.reset();
    }
    // Caps can only be lowered below the built-in ones.
    void setUnpackLimits(const ArchiveUnpacker::Limits& limits);
    void setDeadlines(const Deadlines& deadlines) { deadlines_ = deadlines; }
    // Off: check() does nothing (pictures of the window never ask the network).
    void setChecksAllowed(bool allowed) { checksAllowed_ = allowed; }

    const UpdateState& state() const { return state_; }
    const std::optional<QDateTime>& lastChecked() const { return lastChecked_; }
    const std::optional<std::string>& staged() const { return staged_; }
    const std::optional<UpdateManifest>& pending() const { return pending_; }

    void check(bool silent);
    QString currentVersion() const;
    int64_t currentBuild() const;
    void downloadAndStage();
    void installAndRelaunch();
    void quitForUpdate();

    // The steps, public so each can be exercised on its own. Callbacks run on
    // the main thread. sha256Of, unpack and verifySignature block and may be
    // called from any thread; downloadAndStage runs them on a worker.
    void fetchManifest(std::function<void(Outcome<UpdateManifest>)> done);
    bool systemMeets(const QString& minimum) const;
    // `progress` gets bytes received ÷ expected, or a negative value when
    // neither the server nor the feed gives the length.
    void download(const UpdateManifest& manifest, std::function<void(Outcome<std::string>)> done,
                  std::function<void(double)> progress = {});
    Outcome<std::string> sha256Of(const std::string& archive) const;
    // The bundle, moved to `stagedName` in a fresh unpack folder; on failure
    // nothing of the attempt is left.
    Outcome<std::string> unpack(const std::string& archive) const;
    // Empty when the bundle is accepted, else the sentence for the user.
    QString verifySignature(const std::string& bundle) const;

    // Pure rules, exposed for tests.
    // Decimal digits without a leading zero that fit 64 bits, else 0.
    static int64_t parseBuildNumber(std::string_view text);
    // Dotted decimal numbers ("14", "14.3.1"), nothing else.
    static bool isVersionNumber(const QString& text);
    static bool systemMeets(const QString& minimum, int64_t runningMajor, int64_t runningMinor);

signals:
    void stateChanged(const vessora::UpdateState& state);
    void lastCheckedChanged(const QDateTime& when);
    // Sent just before the app is asked to quit so that windows close first.
    void quittingForUpdate();

private:
    void fetchAndDecide();
    void leaveToPackageManager();
    bool leftToPackageManager() const;
    void finishStaging(const std::string& stagedPath, const QString& failure, const std::string& reason);
    void discardStaged();
    void setState(UpdateState state);
    void setProgress(double progress);
    QNetworkRequest request(const QUrl& url, int timeoutMs) const;
    QString systemName() const;

    UpdateState state_;
    std::optional<QDateTime> lastChecked_;
    std::optional<std::string> staged_;
    std::optional<UpdateManifest> pending_;

    QUrl feedUrl_;
    PinnedKeys pinnedKeys_;
    QList<QSslCertificate> extraCaCertificates_;
    std::string bundlePath_;
    std::string osReleasePath_ = "/etc/os-release";
    std::string dpkgDatabase_ = "/var/lib/dpkg";
    std::optional<bool> packageManaged_; // by the database, once looked up
    ArchiveUnpacker::Limits limits_;
    Deadlines deadlines_;
    QNetworkAccessManager* network_;
    int64_t lastProgressMs_ = 0;
    bool checkIsSilent_ = false; // of the check under way
    bool checksAllowed_ = true;
    bool handedOver_ = false; // the staged copy belongs to the install script
    // Workers post their results here; the destructor waits for the pool, so
    // no worker outlives the queue it posts to.
    Async::MainQueue mainQueue_;
    QThreadPool workers_;
};

} // namespace vessora
