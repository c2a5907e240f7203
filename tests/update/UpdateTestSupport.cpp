#include "UpdateTestSupport.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include "support/Json.h"
#include "support/Paths.h"
#include "platform/PrivilegedRunner.h"

#include <climits>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace vessora::test {

namespace {

void must(bool ok, const std::string& what) {
    if (!ok) {
        std::fprintf(stderr, "test set-up failed: %s\n", what.c_str());
        std::abort();
    }
}

std::string python() { return ::access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3"; }

// Lives until the process ends; holds the keys.
TempDir& keyFolder() {
    static TempDir dir;
    return dir;
}

void makeKey(const std::string& base, std::string& pub, std::string& sec) {
    pub = base + ".pub";
    sec = base + ".key";
    std::string output;
    must(runProgram({"minisign", "-G", "-W", "-p", pub, "-s", sec}, &output) == 0, "minisign -G: " + output);
}

} // namespace

const Keys& Keys::shared() {
    static const Keys keys = [] {
        Keys k;
        makeKey(keyFolder() / "team", k.teamPublic, k.teamSecret);
        makeKey(keyFolder() / "other", k.otherPublic, k.otherSecret);
        makeKey(keyFolder() / "stray", k.strayPublic, k.straySecret);
        return k;
    }();
    return keys;
}

FeedServer& FeedServer::shared() {
    static FeedServer server;
    return server;
}

FeedServer::FeedServer() : dir_(std::make_unique<TempDir>()) {
    root_ = *dir_ / "root";
    makeDirs(root_);
    certFile_ = *dir_ / "cert.pem";
    std::string keyFile = *dir_ / "key.pem", output;
    must(runProgram({"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                     "-days", "2", "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1", "-keyout",
                     keyFile, "-out", certFile_},
                    &output) == 0,
         "openssl: " + output);
    certificates_ = QSslCertificate::fromPath(QString::fromStdString(certFile_));
    must(!certificates_.isEmpty(), "certificate unreadable");

    // The server prints its port, then serves until this process is gone.
    FILE* server = ::popen(("exec " + python() + " " + shellWord(VESSORA_UPDATE_TEST_DIR "/feed_server.py") + " " +
                            shellWord(root_) + " " + shellWord(certFile_) + " " + shellWord(keyFile))
                               .c_str(),
                           "r");
    char line[32] = {};
    must(server && std::fgets(line, sizeof line, server), "feed server did not start");
    port_ = std::atoi(line);
    must(port_ > 0, "feed server did not start");
}

QUrl FeedServer::url(const std::string& path) const {
    return QUrl(QStringLiteral("https://127.0.0.1:%1/%2").arg(port_).arg(QString::fromStdString(path)));
}

std::string FeedServer::freshFolder(const std::string& prefix) {
    static int serial = 0;
    return prefix + "-" + std::to_string(::getpid()) + "-" + std::to_string(++serial);
}

void FeedServer::put(const std::string& path, const std::string& contents) const {
    writeText(Paths::join(root_, path), contents);
}

std::string selfPath() {
    char buffer[PATH_MAX];
    ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    return length > 0 ? std::string(buffer, static_cast<size_t>(length)) : std::string();
}

namespace {

std::string infoPlist(const std::string& version, const std::string& build, const std::string& executable = {}) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n" +
           (executable.empty() ? std::string()
                               : "\t<key>CFBundleExecutable</key>\n\t<string>" + executable + "</string>\n") +
           "\t<key>CFBundleIdentifier</key>\n\t<string>app.vessora.Vessora</string>\n"
           "\t<key>CFBundleShortVersionString</key>\n\t<string>" +
           version + "</string>\n\t<key>CFBundleVersion</key>\n\t<string>" + build + "</string>\n</dict>\n</plist>\n";
}

} // namespace

std::string makeInstalledInfo(const std::string& folder, const std::string& build, const std::string& version) {
    std::string bundle = Paths::join(folder, "Vessora.app");
    writeText(Paths::join(bundle, "Contents/Info.plist"), infoPlist(version, build));
    return bundle;
}

std::string makeBundle(const std::string& folder, const std::string& name, const std::string& version,
                       const std::string& build, const std::string& marker, const std::string& tag,
                       const std::string& executable) {
    const auto quote = shellWord;
    std::string bundle = Paths::join(folder, name);
    writeText(Paths::join(bundle, "Contents/Info.plist"), infoPlist(version, build, executable));
    std::string exe = Paths::join(bundle, "Contents/MacOS/" + executable);
    writeText(exe, "#!/bin/sh\n"
                   "if [ \"$1\" = --verify-signature ]; then exec " +
                       quote(selfPath()) + " --verify-with-key " + quote(Keys::shared().teamPublic) +
                       " \"$2\"; fi\n"
                       "echo " +
                       quote(tag) + " >> " + quote(marker) + "\n");
    ::chmod(exe.c_str(), 0755);
    writeText(Paths::join(bundle, "Contents/Resources/notes.txt"), "resources of " + version + "\n");
    ::symlink("notes.txt", Paths::join(bundle, "Contents/Resources/current").c_str());
    return bundle;
}

int shellIn(const std::string& folder, const std::string& command) {
    std::string output;
    int status =
        runProgram({"/bin/sh", "-c",
                    "KEY=" + shellWord(Keys::shared().teamSecret) + "; cd " + shellWord(folder) + " && " + command},
                   &output);
    if (status != 0) std::fprintf(stderr, "%s: %s", command.c_str(), output.c_str());
    return status;
}

bool signBundle(const std::string& bundle, const std::string& secretKey, const std::string& team) {
    std::string output;
    return runProgram({std::string(VESSORA_SOURCE_DIR) + "/scripts/sign-bundle", secretKey, team, bundle}, &output) ==
           0;
}

void makeZip(const std::string& out, const std::string& entriesJson) {
    std::string listFile = out + ".entries.json", output;
    writeText(listFile, entriesJson);
    must(runProgram({python(), std::string(VESSORA_UPDATE_TEST_DIR) + "/make_zip.py", out, listFile}, &output) == 0,
         "make_zip: " + output);
    ::unlink(listFile.c_str());
}

std::string zipBundle(const std::string& bundle, const std::string& out, const std::string& extraEntries) {
    makeZip(out, "[{\"tree\": " + JsonWriter::quote(bundle) +
                     ", \"as\": " + JsonWriter::quote(Paths::lastComponent(bundle)) + "}" + extraEntries + "]");
    return out;
}

QUrl publishBuild(const std::string& prefix, const std::string& archive, const std::optional<std::string>& sha256,
                  const std::string& extraKeys) {
    const FeedServer& server = FeedServer::shared();
    std::string base = FeedServer::freshFolder(prefix);
    if (!archive.empty()) server.put(base + "/update.zip", readText(archive));
    server.put(base + "/appcast.json",
               R"({"version": "2.0", "build": 11, "url": )" +
                   JsonWriter::quote(server.url(base + "/update.zip").toString().toStdString()) +
                   (sha256 ? ", \"sha256\": " + JsonWriter::quote(*sha256) : "") + extraKeys + "}");
    return server.url(base + "/appcast.json");
}

std::unique_ptr<Updater> makeUpdater(const QUrl& feed, const std::string& installedBundle,
                                     const std::string& osRelease) {
    const Keys& keys = Keys::shared();
    Updater::PinnedKeys pinned = {{ourTeam, readText(keys.teamPublic)}, {otherTeam, readText(keys.otherPublic)}};
    auto updater = std::make_unique<Updater>(feed, pinned, FeedServer::shared().certificates());
    updater->setBundlePath(installedBundle);
    // No package owns a test's bundle; a database that is not there says so at once.
    updater->setDpkgDatabase("/nonexistent/dpkg");
    if (!osRelease.empty()) updater->setOsReleasePath(osRelease);
    return updater;
}

bool waitUntil(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs) return false;
        QEventLoop loop;
        QTimer::singleShot(20, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

bool settle(Updater& updater, int timeoutMs) {
    return waitUntil(
        [&] {
            auto kind = updater.state().kind();
            return kind != UpdateState::Kind::checking && kind != UpdateState::Kind::downloading;
        },
        timeoutMs);
}

} // namespace vessora::test
