#include "update/Updater.h"

#include "apps/BundleInfo.h"
#include "apps/DpkgDatabase.h"
#include "platform/SafeDelete.h"
#include "support/FolderListing.h"
#include "support/OsRelease.h"
#include "support/Paths.h"
#include "update/BuildSettings.h"
#include "update/Digest.h"
#include "update/InstallScript.h"
#include "update/RunningApp.h"
#include "update/UpdateLog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslConfiguration>
#include <QTimer>
#include <QUuid>

#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <vector>

namespace vessora {

namespace {

constexpr int feedTimeoutMs = 15'000;
constexpr int downloadTimeoutMs = 60'000;

// Diagnostic lines go to the system log and to the updater's own log, which
// is there on every system.
void systemLog(const std::string& line) {
    ::syslog(LOG_NOTICE, "%s", ("[Corvane] " + line).c_str());
    UpdateLog::append(line);
}

std::string toBytes(const QString& text) { return text.toStdString(); }

// Decimal digits only (no sign, no space) that fit 64 bits.
std::optional<int64_t> parseDecimal(std::string_view text) {
    if (text.empty() || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    int64_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 10);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::string secondsText(int ms) { return std::to_string((ms + 999) / 1000); }

// A folder a distribution's package manager owns.
bool underUsr(const std::string& path) {
    const std::string standard = Paths::standardize(path);
    return standard == "/usr" || standard.starts_with("/usr/");
}

// The numbers of a dotted version, dropping pieces that are not numbers.
std::vector<int64_t> versionNumbers(const QString& text) {
    std::vector<int64_t> numbers;
    for (const QString& piece : text.split(QLatin1Char('.'), Qt::SkipEmptyParts))
        if (auto number = parseDecimal(toBytes(piece))) numbers.push_back(*number);
    return numbers;
}

} // namespace

QUrl Updater::buildFeedUrl() { return QUrl(QString::fromUtf8(BuildSettings::feedUrl)); }

Updater::PinnedKeys Updater::releaseKeys() { return {{BuildSettings::team, BuildSettings::releasePublicKey}}; }

QList<QSslCertificate> Updater::buildExtraCaCertificates() {
    return QSslCertificate::fromData(QByteArray(BuildSettings::extraCaCertificates), QSsl::Pem);
}

std::string Updater::expectedTeam() { return BuildSettings::team; }

bool Updater::selfUpdateBuilt() { return BuildSettings::selfUpdate; }

QString Updater::packageManagedMessage() {
    return QStringLiteral("Vessora was installed by your package manager, which keeps it up to date.");
}

Updater::Updater(QUrl feedUrl, PinnedKeys pinnedKeys, QList<QSslCertificate> extraCaCertificates, QObject* parent)
    : QObject(parent), feedUrl_(std::move(feedUrl)), pinnedKeys_(std::move(pinnedKeys)),
      extraCaCertificates_(std::move(extraCaCertificates)), bundlePath_(RunningApp::bundle()),
      network_(new QNetworkAccessManager(this)) {
    qRegisterMetaType<vessora::UpdateState>();
    workers_.setMaxThreadCount(1);
}

Updater::~Updater() {
    workers_.waitForDone();
    // Nothing is kept between launches: a copy staged but never handed to the
    // install script goes with the app.
    if (!handedOver_) discardStaged();
}

void Updater::setUnpackLimits(const ArchiveUnpacker::Limits& limits) {
    const ArchiveUnpacker::Limits built;
    limits_.maxEntries = std::clamp<int64_t>(limits.maxEntries, 0, built.maxEntries);
    limits_.maxTotalBytes = std::clamp<int64_t>(limits.maxTotalBytes, 0, built.maxTotalBytes);
}

void Updater::setState(UpdateState state) {
    state_ = std::move(state);
    emit stateChanged(state_);
}

// ---- Check -----------------------------------------------------------------

void Updater::check(bool silent) {
    using Kind = UpdateState::Kind;
    if (!checksAllowed_) return;
    // A check the user asks for while the silent launch check still runs
    // joins it: its outcome is then shown, failure included.
    if (state_.kind() == Kind::checking && !silent) checkIsSilent_ = false;
    if (state_.kind() == Kind::checking || state_.kind() == Kind::downloading || state_.kind() == Kind::readyToRelaunch)
        return;
    checkIsSilent_ = silent;
    if (leftToPackageManager()) return leaveToPackageManager();
    setState(UpdateState::checking());
    if (packageManaged_.has_value() || bundlePath_.empty()) return fetchAndDecide();
    // dpkg's file lists run to tens of megabytes: read on a worker.
    const std::string bundle = bundlePath_;
    const std::set<std::string> paths{bundle,
                                      Paths::join(bundle, "Contents/MacOS/" + InstallScript::executableOf(bundle))};
    Async::start(workers_, [this, bundle, paths, root = dpkgDatabase_] {
        const bool listed = !DpkgDatabase::owners(root, paths).empty();
        mainQueue_.post([this, bundle, listed] {
            if (bundle == bundlePath_) packageManaged_ = listed;
            if (listed) return leaveToPackageManager();
            fetchAndDecide();
        });
    });
}

bool Updater::leftToPackageManager() const {
    return !selfUpdateBuilt() || underUsr(bundlePath_) || packageManaged_.value_or(false);
}

void Updater::leaveToPackageManager() {
    if (checkIsSilent_) {
        if (state_.kind() != UpdateState::Kind::idle) setState(UpdateState::idle());
        return;
    }
    UpdateLog::append("no update check: " + std::string(selfUpdateBuilt() ? "the package manager owns " + bundlePath_
                                                                          : "this build leaves updates to the package "
                                                                            "manager"));
    setState(UpdateState::packageManaged());
}

void Updater::fetchAndDecide() {
    fetchManifest([this](Outcome<UpdateManifest> fetched) {
        const bool silent = checkIsSilent_;
        if (!fetched) {
            setState(silent ? UpdateState::idle() : UpdateState::failed(fetched.failure));
            return;
        }
        lastChecked_ = QDateTime::currentDateTime();
        emit lastCheckedChanged(*lastChecked_);
        const UpdateManifest& manifest = *fetched.value;
        if (manifest.minimumSystemVersion && !isVersionNumber(*manifest.minimumSystemVersion)) {
            const std::string shown = UpdateLog::escaped(manifest.minimumSystemVersion->toStdString());
            UpdateLog::append("update refused: its minimum system version is not a version number: " + shown);
            setState(silent ? UpdateState::idle()
                            : UpdateState::failed(QStringLiteral("This update asks for system version “%1”, which is "
                                                                 "not a version number, so it is not offered.")
                                                      .arg(QString::fromStdString(shown))));
            return;
        }
        if (manifest.minimumSystemVersion && !systemMeets(*manifest.minimumSystemVersion)) {
            UpdateLog::append("update refused: it needs system version " +
                              manifest.minimumSystemVersion->toStdString());
            setState(silent ? UpdateState::idle()
                            : UpdateState::failed(QStringLiteral("This update needs %1 %2 or newer.")
                                                      .arg(systemName(), *manifest.minimumSystemVersion)));
            return;
        }
        if (currentBuild() < manifest.build) {
            pending_ = manifest;
            setState(UpdateState::available(manifest.version, manifest.build, manifest.notes));
            return;
        }
        setState(silent ? UpdateState::idle() : UpdateState::upToDate());
    });
}

QString Updater::currentVersion() const {
    auto version = BundleInfo::stringValue(BundleInfo::read(bundlePath_), "CFBundleShortVersionString");
    return version ? QString::fromStdString(*version) : QStringLiteral("?");
}

int64_t Updater::currentBuild() const {
    auto build = BundleInfo::stringValue(BundleInfo::read(bundlePath_), "CFBundleVersion");
    return build ? parseBuildNumber(*build) : 0;
}

int64_t Updater::parseBuildNumber(std::string_view text) {
    if (text.size() > 1 && text[0] == '0') return 0;
    return parseDecimal(text).value_or(0);
}

bool Updater::isVersionNumber(const QString& text) {
    const QStringList pieces = text.split(QLatin1Char('.'));
    return std::all_of(pieces.begin(), pieces.end(),
                       [](const QString& piece) { return parseDecimal(toBytes(piece)).has_value(); });
}

bool Updater::systemMeets(const QString& minimum) const {
    auto release = OsRelease::read(osReleasePath_);
    auto running = versionNumbers(QString::fromStdString(release["VERSION_ID"]));
    running.resize(std::max<size_t>(running.size(), 2), 0);
    return systemMeets(minimum, running[0], running[1]);
}

bool Updater::systemMeets(const QString& minimum, int64_t runningMajor, int64_t runningMinor) {
    auto required = versionNumbers(minimum);
    required.resize(std::max<size_t>(required.size(), 2), 0);
    if (runningMajor != required[0]) return runningMajor > required[0];
    return runningMinor >= required[1];
}

QString Updater::systemName() const {
    std::string name = OsRelease::read(osReleasePath_)["NAME"];
    return name.empty() ? QStringLiteral("Linux") : QString::fromStdString(name);
}

QNetworkRequest Updater::request(const QUrl& url, int timeoutMs) const {
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    // Redirects are followed only to https; a step down to http ends the reply
    // with InsecureRedirectError.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setTransferTimeout(timeoutMs);
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.addCaCertificates(extraCaCertificates_);
    request.setSslConfiguration(tls);
    return request;
}

namespace {

// Empty when the reply is a complete HTTP 200 over https, else the sentence.
QString replyFailure(QNetworkReply* reply) {
    const QString bad = description(UpdateError::badResponse);
    if (reply->error() == QNetworkReply::InsecureRedirectError || reply->url().scheme() != QLatin1String("https"))
        return bad;
    QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid() && status.toInt() != 200) return bad;
    if (reply->error() != QNetworkReply::NoError) return reply->errorString();
    return status.isValid() ? QString() : bad;
}

// For the log: what the server said, or why none answered.
std::string answerOf(QNetworkReply* reply) {
    QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid()) return "could not reach the server: " + reply->errorString().toStdString();
    std::string answer = "the server answered " + status.toString().toStdString();
    if (reply->error() != QNetworkReply::NoError) answer += " (" + reply->errorString().toStdString() + ")";
    return answer;
}

} // namespace

void Updater::fetchManifest(std::function<void(Outcome<UpdateManifest>)> done) {
    auto fail = [done](QString message, const std::string& reason) {
        UpdateLog::append("feed refused: " + reason);
        done(Outcome<UpdateManifest>::fail(message));
    };
    if (feedUrl_.scheme() != QLatin1String("https")) {
        QTimer::singleShot(0, this,
                           [fail] { fail(description(UpdateError::badResponse), "the feed's address is not https"); });
        return;
    }
    QNetworkReply* reply = network_->get(request(feedUrl_, feedTimeoutMs));
    // The feed is small; a larger answer is refused as soon as its length
    // says so or its bytes pass the cap, never read whole.
    auto body = std::make_shared<QByteArray>();
    auto tooLarge = std::make_shared<bool>(false);
    // Qt's transfer timeout restarts with every byte; a server dribbling
    // bytes must still not keep the check going: the whole check has a deadline.
    auto overdue = std::make_shared<bool>(false);
    auto* deadline = new QTimer(reply);
    deadline->setSingleShot(true);
    connect(deadline, &QTimer::timeout, reply, [reply, overdue] {
        *overdue = true;
        reply->abort();
    });
    deadline->start(deadlines_.checkMs);
    const std::string seconds = secondsText(deadlines_.checkMs);
    auto take = [reply, body, tooLarge] {
        if (*tooLarge || !reply->isOpen()) return; // refused, or cut off at the deadline
        QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        QByteArray chunk = reply->readAll();
        if ((length.isValid() && length.toLongLong() > maxFeedBytes) || body->size() + chunk.size() > maxFeedBytes) {
            *tooLarge = true;
            body->clear();
            reply->abort();
            return;
        }
        body->append(chunk);
    };
    connect(reply, &QNetworkReply::metaDataChanged, this, take);
    connect(reply, &QNetworkReply::readyRead, this, take);
    connect(reply, &QNetworkReply::finished, this, [reply, fail, done, take, body, tooLarge, overdue, seconds] {
        reply->deleteLater();
        take();
        if (*tooLarge) return fail(description(UpdateError::badResponse), "the feed is larger than 1 MiB");
        if (*overdue)
            return fail(QString::fromStdString("The update server did not answer within " + seconds + " seconds."),
                        "no complete answer within " + seconds + " seconds");
        QString failure = replyFailure(reply);
        if (!failure.isEmpty()) return fail(failure, answerOf(reply));
        QString error;
        auto manifest = UpdateManifest::decode(*body, error);
        if (!manifest) return fail(error, error.toStdString());
        // Archives are fetched over https only, whatever the feed says.
        if (manifest->url.scheme() != QLatin1String("https"))
            return fail(description(UpdateError::badResponse), "the archive's address is not https");
        done(Outcome<UpdateManifest>::success(*manifest));
    });
}

// ---- Download and staging ----------------------------------------------------

namespace {

// One staging step's outcome: the path, or the sentence for the user with the
// reason for the log.
struct Step {
    std::optional<std::string> path;
    QString failure;
    std::string reason;
    static Step success(std::string p) { return {std::move(p), {}, {}}; }
    static Step fail(UpdateError error, std::string why) { return {std::nullopt, description(error), std::move(why)}; }
    static Step fail(QString message, std::string why) { return {std::nullopt, std::move(message), std::move(why)}; }
};

// What a worker needs, copied so that it shares nothing with the updater.
struct StageInput {
    std::string archive;
    std::optional<QString> sha256;
    int64_t feedBuild = 0;
    int64_t installedBuild = 0;
    Updater::PinnedKeys keys;
    std::string team;
    ArchiveUnpacker::Limits limits;
};

std::string uniqueTempPath(const QString& suffix) {
    QDir().mkpath(QDir::tempPath());
    return QFile::encodeName(
               QDir::temp().filePath(QStringLiteral("Corvane-update-%1%2")
                                         .arg(QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper(), suffix)))
        .toStdString();
}

// Removes a folder of the updater's own through the no-follow delete, which
// works on bytes: names from an archive need not be UTF-8.
void discard(const std::string& folder) {
    auto removed = SafeDelete::removeItem(folder);
    if (!removed.ok() && removed.error != ENOENT)
        UpdateLog::append("could not remove " + folder + ": " + std::strerror(removed.error));
}

Step digestOf(const std::string& archive) {
    auto digest = Digest::sha256OfFile(archive);
    if (!digest) return Step::fail(UpdateError::checksumMismatch, "the archive could not be read for its digest");
    return Step::success(*digest);
}

Step unpackArchive(const std::string& archive, const ArchiveUnpacker::Limits& limits) {
    std::string folder = uniqueTempPath({});
    if (::mkdir(folder.c_str(), 0700) != 0) {
        int error = errno;
        return Step::fail(QString::fromLocal8Bit(std::strerror(error)), "cannot create " + folder);
    }
    // libarchive's symlink guard checks every component of the destination,
    // so the folder is named without any link (a temporary directory reached
    // through one would otherwise refuse every archive).
    char resolved[PATH_MAX];
    if (::realpath(folder.c_str(), resolved)) folder = resolved;
    const std::string contents = Paths::join(folder, "archive");
    const std::string staged = Paths::join(folder, Updater::stagedName);
    auto refuse = [&](std::string why) {
        discard(folder);
        return Step::fail(UpdateError::unpackFailed, "unpack refused: " + why);
    };
    if (::mkdir(contents.c_str(), 0700) != 0) return refuse("cannot create " + contents);
    auto result = ArchiveUnpacker::unpack(archive, contents, limits);
    if (!result.ok) return refuse(result.reason);
    auto names = FolderListing::namesOrEmpty(contents);
    auto bundle = std::find_if(names.begin(), names.end(),
                               [](const std::string& name) { return name.size() > 4 && name.ends_with(".app"); });
    if (bundle == names.end()) return refuse("no .app at the top of the archive");
    // The bundle gets a name of our own: the archive's name reaches the
    // install script and its log, and must not be able to say anything there.
    if (::rename(Paths::join(contents, *bundle).c_str(), staged.c_str()) != 0)
        return refuse(std::string("cannot move the bundle into place: ") + std::strerror(errno));
    discard(contents);
    return Step::success(staged);
}

Step checkSignature(const std::string& bundle, const Updater::PinnedKeys& keys, const std::string& team) {
    auto verification = BundleSignature::verify(bundle, keys);
    if (!verification.valid)
        return Step::fail(UpdateError::signatureInvalid,
                          "signature refused for " + bundle + ": " + verification.reason);
    if (verification.team != team)
        return Step::fail(UpdateError::wrongTeam, "signed by team " + verification.team + ", expected " + team);
    return Step::success(bundle);
}

// The build a verified bundle declares must be the one the feed offered and
// newer than the installed one: an older build signed in its day must not
// come back.
Step checkBuild(const std::string& bundle, int64_t feedBuild, int64_t installedBuild) {
    auto text = BundleInfo::stringValue(BundleInfo::read(bundle), "CFBundleVersion");
    int64_t build = text ? Updater::parseBuildNumber(*text) : 0;
    if (build <= installedBuild)
        return Step::fail(QStringLiteral("The downloaded app (build %1) is not newer than this one (build %2) and "
                                         "was discarded.")
                              .arg(build)
                              .arg(installedBuild),
                          "downloaded build " + std::to_string(build) + " is not newer than installed build " +
                              std::to_string(installedBuild));
    if (build != feedBuild)
        return Step::fail(QStringLiteral("The downloaded app is build %1, not build %2 as the update server said, "
                                         "and was discarded.")
                              .arg(build)
                              .arg(feedBuild),
                          "downloaded build " + std::to_string(build) + " differs from the feed's build " +
                              std::to_string(feedBuild));
    return Step::success(bundle);
}

// Runs on a worker: digest, unpack, signature, build. The archive is always
// removed; an unpack folder survives only holding an accepted bundle.
Step stage(const StageInput& input) {
    auto run = [&]() -> Step {
        if (input.sha256) {
            Step digest = digestOf(input.archive);
            if (!digest.path) return digest;
            if (QString::fromStdString(*digest.path).compare(*input.sha256, Qt::CaseInsensitive) != 0)
                return Step::fail(UpdateError::checksumMismatch,
                                  "digest " + *digest.path + " differs from the feed's " + input.sha256->toStdString());
        }
        Step bundle = unpackArchive(input.archive, input.limits);
        if (!bundle.path) return bundle;
        Step accepted = checkSignature(*bundle.path, input.keys, input.team);
        if (accepted.path) accepted = checkBuild(*bundle.path, input.feedBuild, input.installedBuild);
        // What failed verification is never kept where it could be mistaken for a staged copy.
        if (!accepted.path) discard(Paths::parent(*bundle.path));
        return accepted;
    };
    Step result = run();
    ::unlink(input.archive.c_str());
    return result;
}

} // namespace

void Updater::setProgress(double progress) {
    // At most ten changes a second: a fast download must not flood the window.
    const int64_t now = QDateTime::currentMSecsSinceEpoch();
    if (state_.kind() != UpdateState::Kind::downloading || state_.progress() == progress || now - lastProgressMs_ < 100)
        return;
    lastProgressMs_ = now;
    setState(UpdateState::downloading(progress));
}

void Updater::finishStaging(const std::string& stagedPath, const QString& failure, const std::string& reason) {
    if (stagedPath.empty()) {
        UpdateLog::append("staging refused: " + reason);
        return setState(UpdateState::failed(failure));
    }
    // A newer staging replaces the copy staged before; that one is not kept.
    if (staged_ && *staged_ != stagedPath) discardStaged();
    staged_ = stagedPath;
    setState(UpdateState::readyToRelaunch());
}

void Updater::discardStaged() {
    if (staged_) discard(Paths::parent(*staged_));
    staged_.reset();
}

void Updater::downloadAndStage() {
    if (!pending_ || state_.kind() == UpdateState::Kind::downloading || leftToPackageManager()) return;
    lastProgressMs_ = QDateTime::currentMSecsSinceEpoch();
    setState(UpdateState::downloading(0));
    UpdateManifest manifest = *pending_;
    download(
        manifest,
        [this, manifest](Outcome<std::string> archive) {
            if (!archive) return setState(UpdateState::failed(archive.failure));
            StageInput input{*archive.value, manifest.sha256, manifest.build, currentBuild(),
                             pinnedKeys_,    expectedTeam(),  limits_};
            // The result comes back through the main-thread queue; the
            // destructor waits for the pool, so `this` outlives the worker.
            Async::start(workers_, [this, input] {
                Step staged = stage(input);
                mainQueue_.post([this, staged = std::move(staged)] {
                    finishStaging(staged.path.value_or(std::string()), staged.failure, staged.reason);
                });
            });
        },
        [this](double progress) { setProgress(progress); });
}

void Updater::download(const UpdateManifest& manifest, std::function<void(Outcome<std::string>)> done,
                       std::function<void(double)> progress) {
    auto failLater = [this, done](QString message, const std::string& reason) {
        UpdateLog::append("download refused: " + reason);
        QTimer::singleShot(0, this, [done, message] { done(Outcome<std::string>::fail(message)); });
    };
    if (manifest.url.scheme() != QLatin1String("https"))
        return failLater(description(UpdateError::badResponse), "the archive's address is not https");
    auto file = std::make_shared<QFile>(QFile::decodeName(uniqueTempPath(QStringLiteral(".zip")).c_str()));
    if (!file->open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return failLater(file->errorString(), "cannot create " + QFile::encodeName(file->fileName()).toStdString());
    file->setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    const int64_t cap = limits_.maxTotalBytes;
    const int64_t feedLength = manifest.length.value_or(-1);
    QNetworkReply* reply = network_->get(request(manifest.url, downloadTimeoutMs));
    // Qt's network thread stops reading the socket once this much waits for
    // the main thread, so no single delivery copies and writes more than this
    // there, however far behind the window's thread falls.
    reply->setReadBufferSize(1024 * 1024);
    auto refused = std::make_shared<std::pair<QString, std::string>>(); // message, reason
    auto stop = [reply, refused](QString message, std::string reason) {
        if (!refused->first.isEmpty()) return;
        *refused = {std::move(message), std::move(reason)};
        reply->abort();
    };
    // A download that brings less than stallBytes in a whole window has
    // stalled, however steadily it dribbles.
    auto received = std::make_shared<int64_t>(0);
    auto* watchdog = new QTimer(reply);
    const std::string seconds = secondsText(deadlines_.stallMs);
    connect(watchdog, &QTimer::timeout, reply,
            [received, stop, seconds, stallBytes = deadlines_.stallBytes, mark = int64_t(0)]() mutable {
                if (*received - mark < stallBytes)
                    return stop(QString::fromStdString("The download made no progress for " + seconds +
                                                       " seconds and was stopped."),
                                "less than " + std::to_string(stallBytes) + " bytes arrived in " + seconds +
                                    " seconds");
                mark = *received;
            });
    watchdog->start(deadlines_.stallMs);
    // An answer that says it is longer than any update could unpack to is
    // refused before its body is read.
    connect(reply, &QNetworkReply::metaDataChanged, this, [reply, stop, cap] {
        QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > cap)
            stop(description(UpdateError::badResponse),
                 "the archive is " + std::to_string(length.toLongLong()) + " bytes, over the cap");
    });
    // The body goes to disk as it arrives, never into memory whole; a server
    // that sends more than any update could unpack to is cut off.
    connect(reply, &QNetworkReply::readyRead, this, [reply, file, refused, stop, cap, feedLength, progress, received] {
        QByteArray chunk = reply->readAll();
        if (!refused->first.isEmpty()) return;
        *received += chunk.size();
        if (file->size() + chunk.size() > cap)
            return stop(description(UpdateError::badResponse), "the archive passed the byte cap");
        if (file->write(chunk) != chunk.size()) return stop(file->errorString(), "cannot write the archive");
        if (!progress) return;
        QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        int64_t expected = length.isValid() && length.toLongLong() > 0 ? length.toLongLong() : feedLength;
        progress(expected > 0 ? std::min(1.0, double(file->size()) / double(expected)) : -1.0);
    });
    connect(reply, &QNetworkReply::finished, this, [reply, file, refused, done] {
        reply->deleteLater();
        QByteArray rest = reply->isOpen() ? reply->readAll() : QByteArray();
        QString failure = refused->first;
        std::string reason = refused->second;
        if (failure.isEmpty()) failure = replyFailure(reply);
        if (reason.empty() && !failure.isEmpty()) reason = answerOf(reply);
        if (failure.isEmpty() && file->write(rest) != rest.size()) failure = file->errorString();
        if (failure.isEmpty() && !file->flush()) failure = file->errorString();
        file->close();
        if (!failure.isEmpty()) {
            file->remove();
            UpdateLog::append("download refused: " + (reason.empty() ? failure.toStdString() : reason));
            return done(Outcome<std::string>::fail(failure));
        }
        done(Outcome<std::string>::success(QFile::encodeName(file->fileName()).toStdString()));
    });
}

Outcome<std::string> Updater::sha256Of(const std::string& archive) const {
    Step digest = digestOf(archive);
    return digest.path ? Outcome<std::string>::success(*digest.path) : Outcome<std::string>::fail(digest.failure);
}

Outcome<std::string> Updater::unpack(const std::string& archive) const {
    Step bundle = unpackArchive(archive, limits_);
    if (bundle.path) return Outcome<std::string>::success(*bundle.path);
    UpdateLog::append(bundle.reason);
    return Outcome<std::string>::fail(bundle.failure);
}

QString Updater::verifySignature(const std::string& bundle) const {
    Step accepted = checkSignature(bundle, pinnedKeys_, expectedTeam());
    if (!accepted.path) UpdateLog::append(accepted.reason);
    return accepted.failure;
}

// ---- Install -------------------------------------------------------------------

void Updater::installAndRelaunch() {
    if (leftToPackageManager()) {
        discardStaged();
        systemLog("installAndRelaunch: the package manager owns " + bundlePath_);
        setState(UpdateState::packageManaged());
        return;
    }
    if (!staged_) {
        setState(UpdateState::failed(QStringLiteral("Nothing is staged to install. Download the update again.")));
        systemLog("installAndRelaunch: staged was nil");
        return;
    }
    const std::string staged = *staged_;
    struct stat info;
    if (::lstat(staged.c_str(), &info) != 0) {
        discardStaged();
        setState(UpdateState::failed(
            QStringLiteral("The downloaded copy is no longer on disk. Download the update again.")));
        systemLog("installAndRelaunch: staged missing at " + staged);
        return;
    }
    const std::string current = bundlePath_;
    systemLog("installAndRelaunch: current=" + current + " staged=" + staged);
    // Every refusal from here on removes the staged copy: only an install
    // attempt may use it, and the next one downloads afresh.
    if (current.empty()) {
        discardStaged();
        systemLog("installAndRelaunch: the app is not running from an application folder");
        setState(UpdateState::failed(QStringLiteral("This copy of the app is not running from an application "
                                                    "folder, so it cannot replace itself. Install the update "
                                                    "manually.")));
        return;
    }
    const std::string folder = Paths::parent(current);
    if (::access(folder.c_str(), W_OK) != 0) {
        discardStaged();
        systemLog("installAndRelaunch: " + folder + " is not writable");
        setState(UpdateState::failed(QString::fromStdString(folder) +
                                     QStringLiteral(" is not writable by this account. Move the app somewhere you "
                                                    "own, or install the update manually.")));
        return;
    }
    InstallScript::Values values;
    values.current = current;
    values.staged = staged;
    values.unpackFolder = Paths::parent(staged);
    // The folder may have been renamed ("Vessora Copy.app"); the executable's
    // name is the one each bundle declares.
    values.executableName = InstallScript::executableOf(current);
    values.stagedExecutableName = InstallScript::executableOf(staged);
    values.pid = ::getpid();
    auto started = InstallScript::start(InstallScript::build(values));
    if (started.error != 0) {
        discardStaged();
        systemLog(std::string("installAndRelaunch: cannot start /bin/sh: ") + std::strerror(started.error));
        setState(UpdateState::failed(QStringLiteral("Could not start the installer: ") +
                                     QString::fromLocal8Bit(std::strerror(started.error))));
        return;
    }
    handedOver_ = true;
    quitForUpdate();
}

void Updater::quitForUpdate() {
    emit quittingForUpdate();
    QCoreApplication::quit();
    // If the quit is refused the app must still go, or the script would give
    // up after 30 seconds; if it goes ahead this timer dies with the app.
    QTimer::singleShot(1000, QCoreApplication::instance(), [] {
        systemLog("terminate was refused, exiting directly");
        std::fflush(nullptr);
        ::_exit(0);
    });
}

} // namespace vessora
