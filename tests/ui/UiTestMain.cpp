// Pins everything that changes how widgets look or behave between machines:
// the offscreen platform, the Fusion style, DejaVu Sans 10, the Adwaita icon
// theme and the light palette.

#include "UiTestSupport.h"
#include "apps/AppInventory.h"
#include "ui/kit/Colors.h"
#include "ui/kit/Style.h"
#include "ui/kit/Symbols.h"

int main(int argc, char** argv) {
    using namespace vessora;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("LC_ALL", "C.UTF-8");
    qunsetenv("VESSORA_COLOR_SCHEME");
    qunsetenv("QT_SCALE_FACTOR");
    // Saved scans and the setting that keeps them go below each test's home.
    qunsetenv("XDG_STATE_HOME");
    qunsetenv("XDG_CONFIG_HOME");

    test::installMessageHandler();
    QApplication application(argc, argv);
    QApplication::setStyle(new Style);
    QApplication::setFont(QFont(QStringLiteral("DejaVu Sans"), 10));
    QIcon::setThemeName(QStringLiteral("Adwaita"));
    Symbols::setUpIconTheme();
    QApplication::setPalette(Colors::lightPalette());

    ::testing::InitGoogleTest(&argc, argv);

    // The inventory fixes the user's application folder on first use, so the
    // suite shares one home folder for it; each test then gets its own.
    test::TempDir folder;
    const std::string home = folder / "home";
    test::makeDirs(home + "/Applications");
    test::ScopedEnv homeEnv("HOME", home);
    AppInventory::userAppRoots();

    return RUN_ALL_TESTS();
}
