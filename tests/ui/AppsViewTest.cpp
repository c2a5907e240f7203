#include "../apps/AppFixtures.h"
#include "UiTestSupport.h"
#include "apps/AppInventory.h"
#include "platform/PlatformTables.h"
#include "ui/apps/AppFilter.h"
#include "ui/apps/AppIcons.h"
#include "ui/apps/AppsView.h"
#include "ui/apps/AppsTexts.h"
#include "ui/apps/LeftoverList.h"

#include <filesystem>

using namespace vessora;
using namespace vessora::test;

namespace {

// Bundles live in the suite's application folder, which the inventory fixed
// when the suite started; leftovers in the test's own home folder. Bundles
// are the macOS inventory's; a test of the Linux kinds selects that set.
class AppsViewTest : public ScreenTest {
protected:
    ScopedTables tables{TableSet::macos};
    AppsViewTest() : apps_(AppInventory::userAppRoots()[1]) { model = makeModel(); }
    ~AppsViewTest() override {
        page.reset();
        std::error_code ignored;
        for (const auto& entry : std::filesystem::directory_iterator(apps_, ignored))
            std::filesystem::remove_all(entry.path(), ignored);
    }

    std::string makeApp(const std::string& name, const std::string& identifier, int64_t payload) {
        const std::string bundle = makeBundle(
            apps_ + "/" + name + ".app",
            {{"CFBundleIdentifier", identifier}, {"CFBundleName", name}, {"CFBundleShortVersionString", "1.2"}});
        if (payload > 0) writeFile(bundle + "/Contents/Resources/payload", payload);
        return bundle;
    }

    // Alpha with one exact and one likely leftover; Beta with none.
    void makeAlphaAndBeta() {
        alpha = makeApp("Alpha", "com.vendor.alpha", 300'000);
        writeFile(path("home/Library/Caches/com.vendor.alpha/cache.db"), 50'000);
        exact = path("home/Library/Caches/com.vendor.alpha");
        likely = path("home/Library/Application Support/Alpha");
        writeFile(likely + "/state", 20'000);
        beta = makeApp("Straße Beta", "org.other.beta", 10'000);
    }

    void showPage() {
        page = std::make_unique<AppsView>(model->apps(), model->removals());
        page->resize(1000, 640);
        page->show();
        QCoreApplication::processEvents();
    }
    // Shows the page over the real inventory, once every row is analysed.
    void openPage() {
        showPage();
        ASSERT_TRUE(waitUntil([&] {
            if (model->apps().isMeasuring() || model->apps().items().empty()) return false;
            for (const auto& row : model->apps().items())
                if (!row.analyzed) return false;
            return true;
        }));
        QCoreApplication::processEvents();
    }

    template <class T> T* child(const char* name) { return page->findChild<T*>(name); }
    int detailPage() { return child<QStackedWidget>("apps.detail")->currentIndex(); }
    LeftoverGroup* group(const char* name) { return child<LeftoverGroup>(name); }
    QPushButton* uninstallButton() { return child<QPushButton>("apps.uninstall"); }
    QCheckBox* bundleSwitch() { return child<QCheckBox>("apps.includeBundle"); }

    std::string apps_, alpha, beta, exact, likely;
    std::unique_ptr<AppsView> page;
};

} // namespace

// Comparison by the language's rules at secondary strength: case and the
// sharp s fold, accents do not; the text is taken as typed.
TEST(AppFilterTest, MatchesTheWayTheLanguageCompares) {
    const std::tuple<const char*, const char*, const char*, bool> cases[] = {
        {"STRASSE", "Hauptstraße Maps", "de_DE", true},
        {"straße", "STRASSE", "en_US", true},
        {"i", "İstanbul Transit", "tr_TR", true},
        {"ISTANBUL", "istanbul", "tr_TR", false}, // dotless I is another letter in Turkish
        {"cafe", "Café Sync", "en_US", false},    // accents count
        {"CAFÉ", "café sync", "en_US", true},
        {" sync", "Café Sync", "en_US", true},
        {" cafe", "Cafe Sync", "en_US", false}, // the leading space is kept
        {"", "anything", "en_US", true},
        {"x", "", "en_US", false},
    };
    for (const auto& [pattern, text, locale, found] : cases) {
        LocalizedMatcher matcher(QString::fromUtf8(pattern), locale);
        EXPECT_EQ(matcher.matches(QString::fromUtf8(text)), found) << pattern << " in " << text;
    }
}

// Part of an identifier finds an app whose name lacks it; the selection stays
// while its row shows, the detail empties while it is filtered out, and the
// row comes back selected with the ticks the user left.
TEST_F(AppsViewTest, FilterKeepsTheSelectionByIdentity) {
    makeAlphaAndBeta();
    openPage();
    QAbstractItemModelTester tester(page->proxy(), QAbstractItemModelTester::FailureReportingMode::Fatal);
    auto* filter = child<QLineEdit>("apps.filter");
    auto* list = child<QListView>("apps.list");
    ASSERT_EQ(list->model()->rowCount(), 2);
    EXPECT_EQ(detailPage(), 0);

    ASSERT_TRUE(page->selectApp(alpha));
    page->selection()->set(likely, true);
    filter->setText("VENDOR.AL");
    EXPECT_EQ(std::tuple(list->model()->rowCount(), detailPage(), list->selectionModel()->selectedIndexes().size()),
              std::tuple(1, 1, 1));

    filter->setText("strasse");
    ASSERT_EQ(list->model()->rowCount(), 1);
    EXPECT_EQ(list->model()->index(0, 0).data().toString(), QString::fromUtf8("Straße Beta"));
    EXPECT_EQ(std::tuple(detailPage(), page->selectedAppID()), std::tuple(0, alpha));

    filter->setText(" alpha");
    EXPECT_EQ(list->model()->rowCount(), 0);

    filter->clear();
    EXPECT_EQ(detailPage(), 1);
    EXPECT_EQ(page->selection()->urls(), (std::set<std::string>{exact, likely}));
    const QModelIndexList selected = list->selectionModel()->selectedIndexes();
    ASSERT_EQ(selected.size(), 1);
    EXPECT_EQ(selected.front().data().toString(), "Alpha");
    EXPECT_EQ(child<QLabel>("apps.footerCount")->text(), "2 apps");

    // A reload replaces the rows and keeps the selection by identity. The
    // switch flipped while it runs loads once more when it ends.
    int loads = 0;
    QObject::connect(&model->apps(), &MeasuredListSignals::measuringChanged,
                     [&] { loads += model->apps().isMeasuring(); });
    model->apps().measure();
    child<QCheckBox>("apps.includeSystem")->click();
    EXPECT_TRUE(model->apps().includeSystemApps());
    ASSERT_TRUE(waitUntil([&] { return loads == 2 && !model->apps().isMeasuring(); }));
    QCoreApplication::processEvents();
    EXPECT_EQ(page->selectedAppID(), alpha);
    EXPECT_EQ(list->selectionModel()->selectedIndexes().size(), 1);
}

// Selecting ticks exactly the sure matches and the app itself; each group's
// button ticks or unticks its own items only.
TEST_F(AppsViewTest, SelectionTicksExactLeftoversAndGroupsToggleTheirOwn) {
    makeAlphaAndBeta();
    openPage();
    ASSERT_TRUE(page->selectApp(beta));
    bundleSwitch()->click();
    EXPECT_FALSE(page->includeBundle());
    EXPECT_FALSE(uninstallButton()->isEnabled()) << "nothing ticked and the switch off";
    bundleSwitch()->click();
    EXPECT_TRUE(uninstallButton()->isEnabled()) << "the bundle alone is enough";

    ASSERT_TRUE(page->selectApp(alpha));
    EXPECT_TRUE(page->includeBundle() && bundleSwitch()->isChecked());
    EXPECT_EQ(page->selection()->urls(), std::set<std::string>{exact});
    LeftoverGroup* sure = group("apps.exactGroup");
    LeftoverGroup* maybe = group("apps.likelyGroup");
    EXPECT_EQ(sure->toggleButton()->text(), "Deselect All");
    EXPECT_EQ(maybe->toggleButton()->text(), "Select All");
    maybe->toggleButton()->click();
    EXPECT_EQ(page->selection()->urls(), (std::set<std::string>{exact, likely}));
    EXPECT_EQ(maybe->toggleButton()->text(), "Deselect All");
    maybe->toggleButton()->click();
    EXPECT_EQ(page->selection()->urls(), std::set<std::string>{exact});
    EXPECT_EQ(sure->toggleButton()->text(), "Deselect All");

    // The row menu shows the item in the file manager.
    LeftoverListView* rows = sure->list();
    std::unique_ptr<QMenu> menu(rows->buildContextMenu(rows->model()->index(0, 0), page.get()));
    ASSERT_EQ(menu->actions().size(), 1);
    EXPECT_EQ(menu->actions()[0]->text(), "Reveal in Finder");
    menu->actions()[0]->trigger();
    EXPECT_EQ(workspace.revealed, std::vector<std::vector<std::string>>{{exact}});

    // Clicking a row toggles it.
    QTest::mouseClick(rows->viewport(), Qt::LeftButton, {}, rows->visualRect(rows->model()->index(0, 0)).center());
    EXPECT_TRUE(page->selection()->urls().empty());
    EXPECT_EQ(sure->toggleButton()->text(), "Select All");
}

// A running app (a copy of sleep inside its bundle) shows the badge and the
// notice and still uninstalls: the bundle and the ticked leftovers go to the
// Trash, the unticked stay, the row leaves the list and the selection clears.
TEST_F(AppsViewTest, RunningAppUninstallsToTheTrash) {
    LiveRunningWorkspace running;
    makeAlphaAndBeta();
    const pid_t process = startSleepingCopy(alpha + "/Contents/MacOS/Alpha", "Alpha");
    ASSERT_GT(process, 0);

    openPage();
    ASSERT_TRUE(page->selectApp(alpha));
    EXPECT_TRUE(child<QWidget>("apps.runningBadge")->isVisible());
    EXPECT_TRUE(child<QLabel>("apps.notice")->text().startsWith("The app is running."));
    ASSERT_TRUE(uninstallButton()->isEnabled());
    uninstallButton()->click();
    QMessageBox* box = waitForMessageBox();
    ASSERT_TRUE(box);
    EXPECT_TRUE(box->informativeText().startsWith("This removes the app bundle and 1 supporting item, freeing"));
    press(box, "Move to Trash");
    const bool gone = waitUntil([&] { return model->apps().items().size() == 1; });
    stop(process);
    ASSERT_TRUE(gone);
    QCoreApplication::processEvents();

    const std::string trash = path("home/.local/share/Trash/files/");
    EXPECT_TRUE(exists(trash + "Alpha.app") && exists(trash + "com.vendor.alpha") && !exists(alpha));
    EXPECT_EQ(std::tuple(exists(likely), child<QListView>("apps.list")->model()->rowCount(),
                         bool(page->selectedAppID()), detailPage()),
              std::tuple(true, 1, false, 0));
}

// A bundle's own icon is read off the main thread; one without keeps the generic icon.
TEST_F(AppsViewTest, BundleIconArrivesFromItsIconFile) {
    const std::string bundle = makeBundle(
        apps_ + "/Painter.app", {{"CFBundleIdentifier", "com.vendor.painter"}, {"CFBundleIconFile", "Painter"}});
    makeDirs(bundle + "/Contents/Resources");
    QImage image(128, 128, QImage::Format_ARGB32);
    image.fill(Qt::red);
    ASSERT_TRUE(image.save(QString::fromStdString(bundle + "/Contents/Resources/Painter.icns"), "ICNS"));
    const std::string plain = makeApp("Plain", "com.vendor.plain", 0);

    AppIcons icons;
    InstalledApp painter = *AppInventory::describe(bundle, false);
    InstalledApp other = *AppInventory::describe(plain, false);
    // Desktop entries name a theme icon or an image file.
    InstalledApp themed = app("/usr/share/applications/calc.desktop", "Calc", "calc", AppKind::package);
    themed.iconName = "accessories-calculator";
    InstalledApp pictured = app(path("Tool.AppImage"), "Tool", std::nullopt, AppKind::appImage);
    pictured.iconName = path("tool.png");
    ASSERT_TRUE(image.save(QString::fromStdString(*pictured.iconName), "PNG"));
    for (const InstalledApp* each : {&painter, &other, &themed, &pictured}) icons.icon(*each);
    EXPECT_TRUE(icons.hasOwnIcon(themed));
    ASSERT_TRUE(waitUntil([&] { return icons.hasOwnIcon(painter) && icons.hasOwnIcon(pictured); }));
    icons.waitForReads();
    QCoreApplication::processEvents();
    EXPECT_FALSE(icons.hasOwnIcon(other));
    const QImage shown = icons.icon(painter).pixmap(32, 32).toImage();
    EXPECT_EQ(shown.pixelColor(16, 16), QColor(Qt::red));
}

// With the Linux tables: a Flatpak's source badge, and a package-manager app
// whose program stays (the switch is off-limits and counts for nothing) while
// its leftovers go.
TEST_F(AppsViewTest, LinuxKindsShowTheirSourceAndPackagesKeepTheirProgram) {
    ScopedTables linux{TableSet::linux};
    const AppRow flat{.app = app("/var/lib/flatpak/app/org.example.Flat", "Flat", "org.example.Flat", AppKind::flatpak),
                      .analyzed = true};
    const std::string entry = writeFile(path("share/applications/org.example.Tool.desktop"), 100);
    const std::string settings = writeFile(path("home/.config/tool/settings"), 4'096);
    AppRow packaged{.app = app(entry, "Tool", "org.example.Tool", AppKind::package),
                    .bundleSize = 90'000'000,
                    .leftovers = {{path("home/.config/tool"), "Settings", MatchConfidence::exact, 4'096, false}},
                    .analyzed = true};
    packaged.app.package = "example-tool";
    model->apps().setItems({flat, packaged});
    showPage();

    ASSERT_TRUE(page->selectApp(flat.app.url));
    EXPECT_EQ(std::tuple(child<QWidget>("apps.storeBadge")->isVisible(),
                         child<QWidget>("apps.storeBadge")->accessibleName(), bundleSwitch()->isEnabled()),
              std::tuple(true, "Flatpak", true));

    ASSERT_TRUE(page->selectApp(packaged.app.url));
    EXPECT_FALSE(bundleSwitch()->isEnabled());
    EXPECT_TRUE(child<QLabel>("apps.notice")->text().startsWith("Installed by "));
    page->selection()->set(path("home/.config/tool"), false);
    EXPECT_FALSE(uninstallButton()->isEnabled()) << "the switch is on, but the program never goes";
    page->selection()->set(path("home/.config/tool"), true);
    EXPECT_TRUE(uninstallButton()->isEnabled());
    const std::string summary = AppsTexts::uninstallSummary(packaged, page->selection()->urls(), page->includeBundle());
    EXPECT_EQ(summary, "This removes 1 supporting item, freeing about " + Fmt::bytes(4'096) + ".");

    // The package's way out: its page in the software centre when something
    // opens appstream links, else the command that removes it, to copy.
    EXPECT_EQ(visibleOf(page.get(), {"apps.packageRow", "apps.openSoftware"}), "apps.packageRow");
    EXPECT_EQ(child<QLabel>("apps.removeCommand")->text(), "sudo apt remove example-tool");
    child<QPushButton>("apps.copyCommand")->click();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "sudo apt remove example-tool");
    workspace.opensAppstream = true;
    ASSERT_TRUE(page->selectApp(flat.app.url));
    EXPECT_FALSE(child<QWidget>("apps.packageRow")->isVisible()) << "a Flatpak is uninstalled here";
    ASSERT_TRUE(page->selectApp(packaged.app.url));
    EXPECT_FALSE(child<QWidget>("apps.removeCommand")->isVisible());
    child<QPushButton>("apps.openSoftware")->click();
    EXPECT_EQ(workspace.opened, std::vector{QUrl("appstream://org.example.Tool")});

    // Its leftovers still go; its program stays.
    uninstallButton()->click();
    QMessageBox* box = waitForMessageBox();
    ASSERT_TRUE(box);
    EXPECT_EQ(box->text(), "Uninstall Tool?");
    EXPECT_EQ(box->informativeText(),
              QString::fromStdString(summary + "\nItems deleted immediately cannot be put back."));
    press(box, "Move to Trash");
    ASSERT_TRUE(waitUntil([&] { return !exists(settings); }));
    EXPECT_TRUE(exists(entry));
}

// The summary's counts and words by kind (on Linux an app's folder or its
// program file, never a bundle), and the kinds whose bundle stays.
TEST(AppsTextsTest, SummaryCountsWordsAndKeptBundles) {
    TempDir dir;
    AppRow row;
    row.bundleSize = 1'000;
    row.leftovers = {{"/x/one", "Cache", MatchConfidence::exact, 2'000'000, false},
                     {"/x/two", "Logs", MatchConfidence::likely, 3'000'000, false}};
    row.analyzed = true;
    const std::tuple<TableSet, std::string, std::set<std::string>, bool, const char*, int64_t> cases[] = {
        {TableSet::macos, "/Applications/A.app", {}, true, "the app bundle and 0 supporting items", 1'000},
        {TableSet::macos, "/Applications/A.app", {"/x/one"}, true, "the app bundle and 1 supporting item", 2'001'000},
        {TableSet::macos, "/Applications/A.app", {"/x/one", "/x/two"}, false, "2 supporting items", 5'000'000},
        {TableSet::linux,
         writeFile(dir / "bin/tool", 1'000),
         {},
         true,
         "the program file and 0 supporting items",
         1'000},
        {TableSet::linux, dir / "bin", {"/x/one"}, true, "the app and 1 supporting item", 2'001'000},
    };
    for (const auto& [set, url, ticked, bundle, removes, bytes] : cases) {
        ScopedTables tables{set};
        row.app.url = url;
        row.app.kind = set == TableSet::linux ? AppKind::program : AppKind::bundle;
        EXPECT_EQ(AppsTexts::uninstallSummary(row, ticked, bundle),
                  std::string("This removes ") + removes + ", freeing about " + Fmt::bytes(bytes) + ".");
    }
    EXPECT_EQ(AppsTexts::secondLine(row).text, "+" + Fmt::bytes(5'000'000) + " outside its folder");
    const Words& words = PlatformTables::current().words;
    for (const char* text : {words.outsideApp, words.exactMatchNote, words.appsEmptyNote, words.noLeftovers,
                             words.removesApp, words.appPart})
        EXPECT_EQ(std::string(text).find("bundle"), std::string::npos) << text;
    EXPECT_FALSE(AppsTexts::canUninstall(row, {}, false));
    row.app.kind = AppKind::package;
    EXPECT_FALSE(AppsTexts::canUninstall(row, {}, true));
    EXPECT_EQ(AppsTexts::selectedTotal(row, {"/x/two"}, true), 3'000'000);
}
