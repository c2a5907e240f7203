#include "app/HeadlessUpdate.h"

#include "update/Updater.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>

namespace vessora::HeadlessUpdate {

int run(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    Updater updater;
    int status = 0;
    QObject::connect(&updater, &Updater::stateChanged, &app, [&](const UpdateState& state) {
        using Kind = UpdateState::Kind;
        if (state.kind() != Kind::downloading) {
            std::printf("%s\n", qPrintable(state.debugText()));
            std::fflush(stdout);
        }
        switch (state.kind()) {
        case Kind::available: updater.downloadAndStage(); break;
        case Kind::readyToRelaunch: updater.installAndRelaunch(); break;
        case Kind::upToDate: QCoreApplication::exit(0); break;
        case Kind::failed:
            status = 1;
            QCoreApplication::exit(1);
            break;
        case Kind::packageManaged:
            std::fprintf(stderr, "%s\n", qPrintable(Updater::packageManagedMessage()));
            status = 1;
            QCoreApplication::exit(1);
            break;
        default: break;
        }
    });
    // From inside the event loop: a state the check reaches at once (a
    // package-managed copy) must be able to end it.
    QTimer::singleShot(0, &app, [&updater] { updater.check(false); });
    int result = app.exec();
    return status != 0 ? status : result;
}

} // namespace vessora::HeadlessUpdate
