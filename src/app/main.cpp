#include "app/HeadlessUpdate.h"
#include "app/LaunchOptions.h"
#include "app/Screenshot.h"
#include "app/SignatureCommands.h"
#include "model/CorvaneModel.h"
#include "support/ProcessLimits.h"
#include "ui/MainWindow.h"
#include "ui/kit/Colors.h"
#include "ui/kit/Style.h"
#include "ui/kit/Symbols.h"
#include "update/Updater.h"

#include <QApplication>
#include <QIcon>

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    using namespace vessora;
    std::vector<std::string> arguments(argv + 1, argv + argc);
    if (auto status = SignatureCommands::run(arguments)) return *status;
    // Deep trees are removed and scanned with one descriptor per level.
    ProcessLimits::raiseDescriptorLimit();
    if (arguments.size() == 1 && arguments[0] == "--install-update") return HeadlessUpdate::run(argc, argv);

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vessora"));
    QApplication::setOrganizationDomain(QStringLiteral("vessora.app"));
    QApplication::setDesktopFileName(QStringLiteral("app.vessora.Vessora"));

    // QApplication took its own options (-platform ...) out of argv.
    std::string error;
    auto options = LaunchOptions::parse(std::vector<std::string>(argv + 1, argv + argc), error);
    if (!options) {
        std::fprintf(stderr, "Vessora: %s\n", error.c_str());
        return 1;
    }

    QApplication::setStyle(new Style);
    Colors::applyScheme(options->colorScheme);
    if (!options->colorScheme) Colors::followDesktopScheme();
    Symbols::setUpIconTheme();
    // The installed app icon, else a symbol when running from the build folder.
    QApplication::setWindowIcon(
        QIcon::fromTheme(QStringLiteral("app.vessora.Vessora"), Symbols::icon(QStringLiteral("chart.pie"))));

    CorvaneModel model;
    Updater updater;
    MainWindow window(model, updater);

    if (options->screenshot) return Screenshot::run(window, model, updater, *options);

    window.show();
    return application.exec();
}
