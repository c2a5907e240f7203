#include "update/Updater.h"

#include "scan/FolderListing.h"
#include "support/Paths.h"
#include "update/BuildSettings.h"
#include "apps/BundleInfo.h"
#include "update/Digest.h"
#include "update/InstallScript.h"
#include "update/RunningApp.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslConfiguration>
#include <QTimer>
#include <QUuid>

#include <fcntl.h>
#include <spawn.h>
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
#include <fstream>
#include <map>
#include <memory>
#include <vector>

extern char** environ;

namespace vessora {

namespace {

constexpr int feedTimeoutMs = 15'000;
constexpr int downloadTimeoutMs = 60'000;

void systemLog(const std::string& line) { ::syslog(LOG_NOTICE, "%s", ("[Corvane] " + line).c_str()); }

std::string toBytes(const QString& text) { return text.toStdString(); }

std::optional<int64_t> parseDecimal(std::string_view text) {
    if (text.starts_with('+')) {
        text.remove_prefix(1);
        if (text.starts_with('-')) return std::nullopt;
    }
    int64_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 10);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

// The numbers of a dotted version, dropping pieces that are not numbers.
std::vector<int64_t> versionNumbers(const QString& text) {
    std::vector<int64_t> numbers;
    for (const QString& piece : text.split(QLatin1Char('.'), Qt::SkipEmptyParts))
        if (auto number = parseDecimal(toBytes(piece))) numbers.push_back(*number);
    return numbers;
}

std::map<std::string, std::string> readOsRelease(const std::string& path) {
    std::map<std::string, std::string> values;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        size_t equals = line.find('=');
        if (line.empty() || line[0] == '#' || equals == std::string::npos) continue;
        std::string value = line.substr(equals + 1);
        if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0]) {
            char quote = value[0];
            std::string unquoted;
            for (size_t i = 1; i + 1 < value.size(); ++i) {
                if (quote == '"' && value[i] == '\\' && i + 2 < value.size()) ++i;
                unquoted += value[i];
            }
            value = unquoted;
        }
        values[line.substr(0, equals)] = value;
    }
    return values;
}

// Lists a folder by name in byte order (so "first in listing order" is the
// same on every file system); a listing error gives an empty list.
std::vector<std::string> listFolder(const std::string& folder) {
    return FolderListing::names(folder).value_or(std::vector<std::string>{});
}

} // namespace

QUrl Updater::buildFeedUrl() { return QUrl(QString::fromUtf8(BuildSettings::feedUrl)); }

Updater::PinnedKeys Updater::releaseKeys() { return {{BuildSettings::team, BuildSettings::releasePublicKey}}; }

std::string Updater::expectedTeam() { return BuildSettings::team; }

Updater::Updater(QUrl feedUrl, PinnedKeys pinnedKeys, QList<QSslCertificate> extraCaCertificates, QObject* parent)
    : QObject(parent), feedUrl_(std::move(feedUrl)), pinnedKeys_(std::move(pinnedKeys)),
      extraCaCertificates_(std::move(extraCaCertificates)), bundlePath_(RunningApp::bundle()),
      network_(new QNetworkAccessManager(this)) {
    qRegisterMetaType<vessora::UpdateState>();
}

Updater::~Updater() = default;

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
    if (state_.kind() == Kind::checking || state_.kind() == Kind::downloading || state_.kind() == Kind::readyToRelaunch)
        return;
    setState(UpdateState::checking());
    fetchManifest([this, silent](Outcome<UpdateManifest> fetched) {
        if (!fetched) {
            setState(silent ? UpdateState::idle() : UpdateState::failed(fetched.failure));
            return;
        }
        lastChecked_ = QDateTime::currentDateTime();
        emit lastCheckedChanged(*lastChecked_);
        const UpdateManifest& manifest = *fetched.value;
        if (manifest.minimumSystemVersion && !systemMeets(*manifest.minimumSystemVersion)) {
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

int64_t Updater::parseBuildNumber(std::string_view text) { return parseDecimal(text).value_or(0); }

bool Updater::systemMeets(const QString& minimum) const {
    auto release = readOsRelease(osReleasePath_);
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
    std::string name = readOsRelease(osReleasePath_)["NAME"];
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

} // namespace

void Updater::fetchManifest(std::function<void(Outcome<UpdateManifest>)> done) {
    if (feedUrl_.scheme() != QLatin1String("https")) {
        QTimer::singleShot(0, this, [done] { done(Outcome<UpdateManifest>::fail(UpdateError::badResponse)); });
        return;
    }
    QNetworkReply* reply = network_->get(request(feedUrl_, feedTimeoutMs));
    connect(reply, &QNetworkReply::finished, this, [reply, done] {
        reply->deleteLater();
        QString failure = replyFailure(reply);
        if (!failure.isEmpty()) return done(Outcome<UpdateManifest>::fail(failure));
        QString error;
        auto manifest = UpdateManifest::decode(reply->readAll(), error);
        if (!manifest) return done(Outcome<UpdateManifest>::fail(error));
        // Archives are fetched over https only, whatever the feed says.
        if (manifest->url.scheme() != QLatin1String("https"))
            return done(Outcome<UpdateManifest>::fail(UpdateError::badResponse));
        done(Outcome<UpdateManifest>::success(*manifest));
    });
}

// ---- Download and staging ----------------------------------------------------

void Updater::downloadAndStage() {
    if (!pending_ || state_.kind() == UpdateState::Kind::downloading) return;
    setState(UpdateState::downloading(0));
    UpdateManifest manifest = *pending_;
    download(manifest, [this, manifest](Outcome<std::string> archive) {
        if (!archive) return setState(UpdateState::failed(archive.failure));
        auto stage = [&]() -> Outcome<std::string> {
            if (manifest.sha256) {
                auto digest = sha256Of(*archive.value);
                if (!digest) return Outcome<std::string>::fail(digest.failure);
                if (QString::fromStdString(*digest.value).compare(*manifest.sha256, Qt::CaseInsensitive) != 0)
                    return Outcome<std::string>::fail(UpdateError::checksumMismatch);
            }
            auto bundle = unpack(*archive.value);
            if (!bundle) return bundle;
            QString refused = verifySignature(*bundle.value);
            if (!refused.isEmpty()) {
                // What failed verification is never kept where it could be mistaken for a staged copy.
                QDir(QString::fromStdString(Paths::parent(*bundle.value))).removeRecursively();
                return Outcome<std::string>::fail(refused);
            }
            return bundle;
        };
        Outcome<std::string> staged = stage();
        ::unlink(archive.value->c_str());
        if (!staged) return setState(UpdateState::failed(staged.failure));
        staged_ = *staged.value;
        setState(UpdateState::readyToRelaunch());
    });
}

void Updater::download(const UpdateManifest& manifest, std::function<void(Outcome<std::string>)> done) {
    if (manifest.url.scheme() != QLatin1String("https")) {
        QTimer::singleShot(0, this, [done] { done(Outcome<std::string>::fail(UpdateError::badResponse)); });
        return;
    }
    QDir().mkpath(QDir::tempPath());
    auto file = std::make_shared<QFile>(QDir::temp().filePath(
        QStringLiteral("Corvane-update-%1.zip").arg(QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper())));
    if (!file->open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        QString error = file->errorString();
        QTimer::singleShot(0, this, [done, error] { done(Outcome<std::string>::fail(error)); });
        return;
    }
    file->setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    const int64_t cap = limits_.maxTotalBytes;
    QNetworkReply* reply = network_->get(request(manifest.url, downloadTimeoutMs));
    auto writeFailed = std::make_shared<QString>();
    // The body goes to disk as it arrives, never into memory whole; a server
    // that sends more than any update could unpack to is cut off.
    connect(reply, &QNetworkReply::readyRead, this, [reply, file, writeFailed, cap] {
        QByteArray chunk = reply->readAll();
        if (!writeFailed->isEmpty()) return;
        if (file->size() + chunk.size() > cap) {
            *writeFailed = description(UpdateError::badResponse);
            reply->abort();
        } else if (file->write(chunk) != chunk.size()) {
            *writeFailed = file->errorString();
            reply->abort();
        }
    });
    connect(reply, &QNetworkReply::finished, this, [reply, file, writeFailed, done] {
        reply->deleteLater();
        QByteArray rest = reply->readAll();
        QString failure = !writeFailed->isEmpty() ? *writeFailed : replyFailure(reply);
        if (failure.isEmpty() && file->write(rest) != rest.size()) failure = file->errorString();
        if (failure.isEmpty() && !file->flush()) failure = file->errorString();
        file->close();
        if (!failure.isEmpty()) {
            file->remove();
            return done(Outcome<std::string>::fail(failure));
        }
        done(Outcome<std::string>::success(QFile::encodeName(file->fileName()).toStdString()));
    });
}

Outcome<std::string> Updater::sha256Of(const std::string& archive) const {
    auto digest = Digest::sha256OfFile(archive);
    if (!digest) return Outcome<std::string>::fail(UpdateError::checksumMismatch);
    return Outcome<std::string>::success(*digest);
}

Outcome<std::string> Updater::unpack(const std::string& archive) const {
    QDir().mkpath(QDir::tempPath());
    std::string folder =
        QFile::encodeName(
            QDir::temp().filePath(
                QStringLiteral("Corvane-update-%1").arg(QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper())))
            .toStdString();
    if (::mkdir(folder.c_str(), 0700) != 0)
        return Outcome<std::string>::fail(QString::fromLocal8Bit(std::strerror(errno)));
    // libarchive's symlink guard checks every component of the destination,
    // so the folder is named without any link (a temporary directory reached
    // through one would otherwise refuse every archive).
    char resolved[PATH_MAX];
    if (::realpath(folder.c_str(), resolved)) folder = resolved;
    auto result = ArchiveUnpacker::unpack(archive, folder, limits_);
    if (!result.ok) {
        systemLog("unpack refused: " + result.reason);
        QDir(QFile::decodeName(folder.c_str())).removeRecursively();
        return Outcome<std::string>::fail(UpdateError::unpackFailed);
    }
    for (const std::string& name : listFolder(folder))
        if (name.size() > 4 && name.ends_with(".app")) return Outcome<std::string>::success(Paths::join(folder, name));
    QDir(QFile::decodeName(folder.c_str())).removeRecursively();
    return Outcome<std::string>::fail(UpdateError::unpackFailed);
}

QString Updater::verifySignature(const std::string& bundle) const {
    auto verification = BundleSignature::verify(bundle, pinnedKeys_);
    if (!verification.valid) {
        systemLog("signature refused for " + bundle + ": " + verification.reason);
        return description(UpdateError::signatureInvalid);
    }
    if (verification.team != expectedTeam()) {
        systemLog("signed by team " + verification.team + ", expected " + expectedTeam());
        return description(UpdateError::wrongTeam);
    }
    return {};
}

// ---- Install -------------------------------------------------------------------

void Updater::installAndRelaunch() {
    if (!staged_) {
        setState(UpdateState::failed(QStringLiteral("Nothing is staged to install. Download the update again.")));
        systemLog("installAndRelaunch: staged was nil");
        return;
    }
    const std::string staged = *staged_;
    struct stat info;
    if (::lstat(staged.c_str(), &info) != 0) {
        setState(UpdateState::failed(
            QStringLiteral("The downloaded copy is no longer on disk. Download the update again.")));
        systemLog("installAndRelaunch: staged missing at " + staged);
        return;
    }
    const std::string current = bundlePath_;
    systemLog("installAndRelaunch: current=" + current + " staged=" + staged);
    if (current.empty()) {
        setState(UpdateState::failed(QStringLiteral("This copy of the app is not running from an application "
                                                    "folder, so it cannot replace itself. Install the update "
                                                    "manually.")));
        return;
    }
    const std::string folder = Paths::parent(current);
    if (::access(folder.c_str(), W_OK) != 0) {
        setState(UpdateState::failed(QString::fromStdString(folder) +
                                     QStringLiteral(" is not writable by this account. Move the app somewhere you "
                                                    "own, or install the update manually.")));
        return;
    }
    InstallScript::Values values;
    values.current = current;
    values.staged = staged;
    values.unpackFolder = Paths::parent(staged);
    values.executableName = Paths::deletingExtension(Paths::lastComponent(current));
    values.pid = ::getpid();
    values.fallbackLog = "/tmp/corvane-update-" + std::to_string(::getuid()) + ".log";
    const std::string script = InstallScript::build(values);

    // A session of its own, so the script outlives the app and its terminal;
    // its output goes to the log, so the standard streams are /dev/null.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (int fd = 0; fd <= 2; ++fd)
        posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
    std::vector<char*> argv = {const_cast<char*>("sh"), const_cast<char*>("-c"), const_cast<char*>(script.c_str()),
                               nullptr};
    pid_t child = 0;
    int error = ::posix_spawn(&child, "/bin/sh", &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (error != 0) {
        setState(UpdateState::failed(QStringLiteral("Could not start the installer: ") +
                                     QString::fromLocal8Bit(std::strerror(error))));
        return;
    }
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
