// The updater's tests need an event loop, so this executable brings its own
// main. It also serves two roles for child processes the tests start:
//   --verify-with-key KEY BUNDLE  what a test bundle's executable runs for
//                                 --verify-signature (the real app does the same
//                                 with its built-in release key);
//   --install-child FEED CA BUNDLE runs check, download and install in a
//                                 process of its own, which then quits as the
//                                 app would.

#include "TestSupport.h"
#include "UpdateTestSupport.h"
#include "update/BundleSignature.h"
#include "update/Updater.h"

#include <QCoreApplication>
#include <QSslCertificate>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

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
        if (state.kind() == UpdateState::Kind::readyToRelaunch) updater.installAndRelaunch();
        if (state.kind() == UpdateState::Kind::failed || state.kind() == UpdateState::Kind::upToDate)
            QCoreApplication::exit(3);
    });
    updater.check(false);
    return app.exec();
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--verify-with-key") == 0) return verifyWithKey(argv[2], argv[3]);
    if (argc == 7 && std::strcmp(argv[1], "--install-child") == 0) return installChild(argc, argv);
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
