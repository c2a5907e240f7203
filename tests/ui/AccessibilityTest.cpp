// The whole window as an assistive tool and a reader see it: every section
// and sheet, light and dark, with something on each. Every interactive
// control has a name worth reading out, and every text reads at least 4.5 to 1
// against what it is drawn on.

#include "../apps/AppFixtures.h"
#include "UiTestSupport.h"
#include "ui/MainWindow.h"
#include "ui/UpdateDialog.h"
#include "ui/apps/AppsView.h"
#include "ui/browse/BrowseView.h"
#include "ui/category/BackupReviewDialog.h"
#include "ui/cleanup/CleanupView.h"
#include "ui/kit/Colors.h"
#include "ui/kit/ContrastCheck.h"

#include <set>

namespace vessora::test {
namespace {

bool interactive(QAccessible::Role role) {
    using R = QAccessible;
    static const std::set<QAccessible::Role> roles{
        R::Button,   R::CheckBox, R::RadioButton, R::ComboBox,       R::EditableText, R::SpinBox,
        R::Slider,   R::Link,     R::ButtonMenu,  R::ButtonDropDown, R::PageTab,      R::List,
        R::ListItem, R::Table,    R::Tree,        R::TreeItem,       R::MenuItem};
    return roles.count(role) > 0;
}

// Worth reading out: some letters, not just a number or punctuation.
bool meaningful(const QString& name) {
    return std::any_of(name.begin(), name.end(), [](QChar c) { return c.isLetter(); });
}

QString describe(QAccessibleInterface* iface) {
    QString where;
    for (QAccessibleInterface* at = iface; at && where.count(QLatin1Char('<')) < 4; at = at->parent())
        if (QObject* object = at->object(); object && !object->objectName().isEmpty())
            where += QStringLiteral(" < ") + object->objectName();
    return QStringLiteral("role %1 named '%2'%3").arg(int(iface->role())).arg(iface->text(QAccessible::Name), where);
}

// Interactive controls of the visible tree without a meaningful name. Of a
// list, table or tree, the first rows are read as its cells read them (the
// offscreen platform has no assistive bridge, so the accessible cells would
// not follow model resets).
void walk(QAccessibleInterface* iface, QStringList& unnamed, int depth = 0) {
    if (!iface || depth > 40 || iface->state().invisible) return;
    const QAccessible::Role role = iface->role();
    if (interactive(role) && !meaningful(iface->text(QAccessible::Name))) unnamed << describe(iface);
    // A label a screen reader stops at should say something.
    if (role == QAccessible::StaticText && iface->text(QAccessible::Name).trimmed().isEmpty())
        unnamed << describe(iface) + QStringLiteral(" (empty label)");
    if (auto* view = qobject_cast<QAbstractItemView*>(iface->object()); view && view->model()) {
        const QAbstractItemModel* model = view->model();
        // A tree exposes its header row even when the header is hidden.
        if (qobject_cast<QTreeView*>(view) && !meaningful(model->headerData(0, Qt::Horizontal).toString()))
            unnamed << describe(iface) + QStringLiteral(", header");
        for (int row = 0; row < std::min(model->rowCount(view->rootIndex()), 6); ++row) {
            const QModelIndex index = model->index(row, 0, view->rootIndex());
            const QVariant text = index.data(Qt::AccessibleTextRole);
            if (!meaningful(text.isValid() ? text.toString() : index.data(Qt::DisplayRole).toString()))
                unnamed << describe(iface) + QStringLiteral(", row %1").arg(row);
        }
        return;
    }
    for (int i = 0; i < iface->childCount(); ++i) walk(iface->child(i), unnamed, depth + 1);
}

class WindowWalk : public ScreenTest {
protected:
    void SetUp() override {
        updater = makeUpdater();
        populate();
        window = std::make_unique<MainWindow>(*model, *updater);
        window->resize(1180, 760);
        window->show();
        QCoreApplication::processEvents();
    }
    void TearDown() override { QApplication::setPalette(Colors::lightPalette()); }

    CleanupEntry entry(const std::string& relative, int64_t bytes) {
        return {writeFile(path(relative), bytes), bytes, std::chrono::system_clock::now()};
    }

    void populate() {
        const CleanupEntry report = entry("home/Documents/report_final.pdf", 300'000);
        const CleanupEntry notes = entry("home/Documents/notes.txt", 20'000);
        std::vector<MeasuredCategory> categories;
        int64_t size = 9'000'000;
        for (const auto& definition : StorageCategories::all()) {
            MeasuredCategory measured = measuredCategory(definition.id, size -= 500'000);
            if (definition.id == "documents") measured.entries = {report, notes};
            categories.push_back(std::move(measured));
        }
        model->categories().setItems(categories);

        model->cleanup().setItems({{.id = "npm",
                                    .title = "npm",
                                    .detail = "Packages npm downloaded; fetched again when needed.",
                                    .risk = CleanupRisk::careful,
                                    .entries = {entry("home/.npm/_cacache", 500'000), entry("home/.npm/_logs", 4'000)},
                                    .scanned = true}});
        CorvaneModelTestAccess::setSnapshots(*model, {LocalSnapshot{"root.20260101", std::nullopt}});

        const std::string forge = writeFile(path("home/Programs/Forge/forge"), 40'000);
        const AppRow program{
            .app = app(forge, "Photo Forge", "org.example.Forge", AppKind::program),
            .bundleSize = 40'000,
            .leftovers = {{path("home/.config/org.example.Forge"), "Settings", MatchConfidence::exact, 4'096, false},
                          {path("home/.cache/forge"), "Caches", MatchConfidence::likely, 80'000, false}},
            .analyzed = true};
        const std::string desktop = "/usr/share/applications/org.example.Tool.desktop";
        AppRow packaged{
            .app = app(desktop, "Tool", "org.example.Tool", AppKind::package), .bundleSize = 900'000, .analyzed = true};
        packaged.app.package = "example-tool";
        model->apps().setItems({program, packaged});
        programUrl = program.app.url;
        packageUrl = packaged.app.url;

        scanned(*model, tree.root());
    }

    void check(QWidget* root, const QString& what) {
        QCoreApplication::processEvents();
        QStringList unnamed;
        walk(QAccessible::queryAccessibleInterface(root), unnamed);
        EXPECT_TRUE(unnamed.isEmpty()) << scheme << " " << what.toStdString() << ": unnamed\n  "
                                       << unnamed.join(QStringLiteral("\n  ")).toStdString();
        QStringList faint;
        for (const auto& run : ContrastCheck::problems(root)) faint << ContrastCheck::describe(run);
        EXPECT_TRUE(faint.isEmpty()) << scheme << " " << what.toStdString() << ": below 4.5:1\n  "
                                     << faint.join(QStringLiteral("\n  ")).toStdString();
    }

    void show(const Section& section) {
        window->selectSection(section);
        QCoreApplication::processEvents();
    }

    void walkEverything() {
        show(Section::overview());
        check(window.get(), "overview");

        show(Section::browse());
        auto* browse = qobject_cast<BrowseView*>(window->currentPage());
        ASSERT_TRUE(browse);
        const FSNode::Ptr docs = nodeAt(model->scan().tree(), "docs");
        browse->setSelection(docs);
        check(window.get(), "browse");
        QMenu* menu = browse->buildContextMenu(docs, window.get());
        menu->show();
        check(menu, "browse row menu");
        delete menu;
        browse->askToRemove(docs);
        checkModal("browse confirmation");

        show(Section::cleanup());
        auto* cleanup = qobject_cast<CleanupView*>(window->currentPage());
        ASSERT_TRUE(cleanup && !cleanup->cards().empty());
        TargetCard* card = cleanup->cards().front();
        card->findChild<QPushButton*>("cleanup.card.expand")->click();
        card->findChild<QCheckBox*>("cleanup.card.check")->click();
        check(window.get(), "cleanup");
        cleanup->buildConfirmation()->open();
        checkModal("cleanup confirmation");

        show(Section::category("documents"));
        window->currentPage()->findChild<QPushButton*>("categoryDetail.selectAll")->click();
        check(window.get(), "documents");
        show(Section::category("systemData"));
        check(window.get(), "system data");

        show(Section::category("applications"));
        auto* apps = qobject_cast<AppsView*>(window->currentPage());
        ASSERT_TRUE(apps);
        ASSERT_TRUE(apps->selectApp(programUrl));
        // With text, the filter shows its clear button.
        auto* filter = window->currentPage()->findChild<QLineEdit*>("apps.filter");
        filter->setText("Forge");
        check(window.get(), "apps");
        filter->clear();
        apps->buildConfirmation()->open();
        checkModal("uninstall confirmation");
        ASSERT_TRUE(apps->selectApp(packageUrl));
        check(window.get(), "apps, a package");

        PendingRemoval pending;
        pending.destination = path("backups/Documents 2026-01-01 1200");
        pending.items = {
            {path("home/Documents/report_final.pdf"), pending.destination + "/report_final.pdf", 300'000, 300'000},
            {path("home/Documents/empty"), pending.destination + "/empty", 0, 4'096}};
        pending.bytes = 304'096;
        pending.mode = RemovalMode::deleteImmediately;
        pending.sameVolumeAsSource = true;
        auto* review = new BackupReviewDialog(&model->backup(), pending, window.get());
        review->show();
        check(review, "backup review");
        delete review;

        window->showUpdateSheet();
        UpdateDialog* sheet = window->updateSheet();
        ASSERT_TRUE(sheet);
        for (const UpdateState& state : {UpdateState::idle(), UpdateState::checking(), UpdateState::upToDate(),
                                         UpdateState::available(QStringLiteral("2.0"), 42, QStringLiteral("Faster.")),
                                         UpdateState::downloading(0.4), UpdateState::readyToRelaunch(),
                                         UpdateState::failed(QStringLiteral("The signature could not be verified."))}) {
            sheet->setPreviewState(state);
            check(sheet, "update sheet: " + sheet->title());
        }
        sheet->hide();
    }

    void checkModal(const QString& what) {
        auto* box = qobject_cast<QMessageBox*>(waitForModal());
        ASSERT_TRUE(box) << what.toStdString();
        check(box, what);
        box->reject();
        QCoreApplication::processEvents();
    }

    BrowseTree tree;
    std::unique_ptr<Updater> updater;
    std::unique_ptr<MainWindow> window;
    std::string programUrl, packageUrl;
    std::string scheme;
};

TEST_F(WindowWalk, EveryControlIsNamedAndEveryTextReadsInBothSchemes) {
    for (const auto& [name, palette] : {std::pair{"light", Colors::lightPalette()}, {"dark", Colors::darkPalette()}}) {
        scheme = name;
        QApplication::setPalette(palette);
        walkEverything();
    }
}

} // namespace
} // namespace vessora::test
