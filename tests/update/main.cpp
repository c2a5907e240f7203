// The updater's tests need an event loop, so this executable brings its own
// main. It also serves two roles for child processes the tests start:
//   --verify-with-key KEY BUNDLE  what a test bundle's executable runs for
//                                 --verify-signature (the real app does the same
//                                 with its built-in release key);
//   --install-child FEED CA BUNDLE TEAMKEY OTHERKEY [spoil]
//                                 runs check, download and install in a
//                                 process of its own, which then quits as the
//                                 app would; with "spoil" the staged copy loses
//                                 its executable bit just before the install;
//   --quit-refused-child          asks to quit for an update and then keeps
//                                 running.

#include "TestSupport.h"
#include "UpdateTestSupport.h"
#include "update/BundleSignature.h"
#include "update/Updater.h"

#include <QCoreApplication>
#include <QEvent>
#include <QTimer>
#include <QSslCertificate>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <sys/stat.h>

using namespace vessora;

namespace {

int verifyWithKey(const std::string& key, const std::string& bundle) {
    auto result = BundleSignature::verify(bundle, {{test::ourTeam, test::readText(key)}});
    if (!result.valid) std::fprintf(stderr, "%s: %s\n", bundle.c_str(), result.reason.c_str());
    return result.valid ? 0 : 1;
}

int installChild(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::string teamKey = argv[5], otherKey = argv[6];
    Updater updater(QUrl(QString::fromLocal8Bit(argv[2])),
                    {{test::ourTeam, test::readText(teamKey)}, {test::otherTeam, test::readText(otherKey)}},
                    QSslCertificate::fromPath(QString::fromLocal8Bit(argv[3])));
    updater.setBundlePath(argv[4]);
    QObject::connect(&updater, &Updater::stateChanged, &app, [&](const UpdateState& state) {
        std::printf("%s\n", state.debugText().toUtf8().constData());
        std::fflush(stdout);
        if (state.kind() == UpdateState::Kind::available) updater.downloadAndStage();
        if (state.kind() == UpdateState::Kind::readyToRelaunch) {
            if (argc == 8) ::chmod((*updater.staged() + "/Contents/MacOS/Vessora").c_str(), 0644);
            updater.installAndRelaunch();
        }
        if (state.kind() == UpdateState::Kind::failed || state.kind() == UpdateState::Kind::upToDate)
            QCoreApplication::exit(3);
    });
    updater.check(false);
    return app.exec();
}

// Swallows the quit request, as a window that refuses to close does.
struct RefuseQuit : QObject {
    bool eventFilter(QObject*, QEvent* event) override { return event->type() == QEvent::Quit; }
};

// The app is asked to quit but keeps running: the updater's fallback must end
// the process anyway, with status 0.
int quitRefusedChild(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    RefuseQuit refuse;
    app.installEventFilter(&refuse);
    Updater updater(QUrl("https://127.0.0.1/appcast.json"), {}, {});
    QTimer::singleShot(0, &app, [&] {
        updater.quitForUpdate();
        std::printf("still running\n");
        std::fflush(stdout);
    });
    app.exec();
    return 7;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--verify-with-key") == 0) return verifyWithKey(argv[2], argv[3]);
    if ((argc == 7 || argc == 8) && std::strcmp(argv[1], "--install-child") == 0) return installChild(argc, argv);
    if (argc == 2 && std::strcmp(argv[1], "--quit-refused-child") == 0) return quitRefusedChild(argc, argv);
    // The updater's log goes to a folder of the test run, for it and its children.
    static test::TempDir state;
    ::setenv("XDG_STATE_HOME", state.path().c_str(), 1);
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
