// Browse's compare mode and scan history: the "Compare with…" menu, the bar
// that says what is compared, the outline's Change column, the treemap's
// colours, and the detail panel's earlier and current sizes.

#include "ui/browse/BrowseView.h"

#include "scan/ScanHistory.h"
#include "support/Fmt.h"
#include "ui/browse/ChangeText.h"
#include "ui/browse/OutlineModel.h"
#include "ui/browse/TreemapView.h"
#include "ui/kit/Text.h"

#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTreeView>

#include <chrono>
#include <sys/stat.h>

namespace vessora {

namespace {

QString when(int64_t seconds) {
    return Text::fromUtf8(Fmt::dateTime(std::chrono::system_clock::time_point(std::chrono::seconds(seconds))));
}

QString bytes(int64_t n) { return Text::fromUtf8(Fmt::bytes(n)); }

QString plural(int64_t n, const char* one, const char* many) {
    return Text::fromUtf8(Fmt::count(n)) + QLatin1Char(' ') + QLatin1String(n == 1 ? one : many);
}

} // namespace

void BrowseView::rebuildCompareMenu() {
    compareMenu_->clear();
    const bool haveTree = scan_.tree() != nullptr && !scan_.isScanning();
    if (history_.comparedWith()) {
        QAction* stop =
            compareMenu_->addAction(QStringLiteral("Stop Comparing"), this, [this] { history_.stopComparing(); });
        stop->setObjectName(QStringLiteral("browse.menuStopComparing"));
        compareMenu_->addSeparator();
    }
    if (history_.earlierScans().empty()) {
        compareMenu_
            ->addAction(haveTree ? QStringLiteral("No earlier scans of this folder")
                                 : QStringLiteral("Scan a folder to compare it"))
            ->setEnabled(false);
    }
    for (const SavedScanInfo& info : history_.earlierScans()) {
        const QString label = when(info.time) + QStringLiteral("  \u00b7  ") + Text::fromUtf8(Fmt::bytes(info.size));
        QAction* action =
            compareMenu_->addAction(label, this, [this, file = info.file] { history_.compareWith(file); });
        action->setCheckable(true);
        action->setChecked(history_.comparedWith() && history_.comparedWith()->file == info.file);
        action->setEnabled(haveTree && !history_.isLoadingScan());
        action->setToolTip(Text::toolTip(Text::fromUtf8(info.source) + QStringLiteral(", ") +
                                         plural(info.fileCount, "file", "files")));
    }
    // What could not be saved, and saved scans that could not be read.
    QStringList unsaved, unreadable;
    for (const auto& problem : history_.historyProblems())
        (problem.rfind("The scan of ", 0) == 0 ? unsaved : unreadable) << Text::fromPath(problem);
    if (!unsaved.isEmpty()) {
        QAction* note = compareMenu_->addAction(QStringLiteral("A scan could not be saved"));
        note->setEnabled(false);
        note->setToolTip(Text::toolTip(unsaved.join(QLatin1Char('\n'))));
    }
    if (!unreadable.isEmpty()) {
        QAction* note = compareMenu_->addAction(
            plural(unreadable.size(), "saved scan could not be read", "saved scans could not be read"));
        note->setEnabled(false);
        note->setToolTip(Text::toolTip(unreadable.join(QLatin1Char('\n'))));
    }
    compareMenu_->addSeparator();
    QAction* open = compareMenu_->addAction(QStringLiteral("Open Scan\u2026"), this, &BrowseView::chooseScanFile);
    open->setObjectName(QStringLiteral("browse.openScan"));
    open->setEnabled(!scan_.isScanning() && !history_.isLoadingScan());
    compareMenu_->addSeparator();
    QAction* keep = compareMenu_->addAction(QStringLiteral("Keep Scan History"));
    keep->setObjectName(QStringLiteral("browse.keepHistory"));
    keep->setCheckable(true);
    keep->setChecked(history_.keepsHistory());
    connect(keep, &QAction::toggled, this, [this](bool on) { history_.setKeepsHistory(on); });
    QAction* forget =
        compareMenu_->addAction(QStringLiteral("Forget History\u2026"), this, &BrowseView::askToForgetHistory);
    forget->setObjectName(QStringLiteral("browse.forgetHistory"));
}

void BrowseView::chooseScanFile() {
    if (scanChooser_) {
        scanChooser_->raise();
        return;
    }
    const std::string folder = ScanHistory::defaultFolder();
    struct stat st;
    const std::string start = ::stat(folder.c_str(), &st) == 0 ? folder : scan_.scanRootPath();
    auto* dialog = new QFileDialog(this, QStringLiteral("Open Scan"), Text::fromPath(start));
    scanChooser_ = dialog;
    dialog->setObjectName(QStringLiteral("browse.scanChooser"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setNameFilters(
        {QStringLiteral("Scans (*.vscan *.json *.json.gz *.gz *.zst)"), QStringLiteral("All files (*)")});
    connect(dialog, &QFileDialog::fileSelected, this, [this](const QString& file) {
        if (!file.isEmpty()) history_.openScan(QFile::encodeName(file).toStdString());
    });
    dialog->open();
}

void BrowseView::askToForgetHistory() {
    auto* box = new QMessageBox(this);
    box->setObjectName(QStringLiteral("browse.confirmForget"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setIcon(QMessageBox::Warning);
    box->setWindowTitle(QStringLiteral("Forget History"));
    box->setText(QStringLiteral("Forget every saved scan?"));
    box->setInformativeText(QStringLiteral("Vessora keeps each scan so that a later one can show what changed. "
                                           "This removes all of them. The scanned files and folders are not touched."));
    box->setTextFormat(Qt::PlainText);
    QPushButton* forget = box->addButton(QStringLiteral("Forget History"), QMessageBox::DestructiveRole);
    QPushButton* cancel = box->addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    box->setDefaultButton(cancel);
    box->setEscapeButton(cancel);
    connect(box, &QMessageBox::buttonClicked, this, [this, forget](QAbstractButton* button) {
        if (button == forget) history_.forgetHistory();
    });
    box->open();
}

void BrowseView::showScanFileError() {
    const auto& error = history_.scanFileError();
    if (!error || scanFileAlert_) return;
    auto* box = new QMessageBox(this);
    scanFileAlert_ = box;
    box->setObjectName(QStringLiteral("browse.scanFileError"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setIcon(QMessageBox::Warning);
    box->setWindowTitle(QStringLiteral("Open Scan"));
    box->setText(QStringLiteral("The scan could not be used."));
    box->setInformativeText(Text::fromPath(*error));
    box->setTextFormat(Qt::PlainText);
    box->addButton(QMessageBox::Ok);
    connect(box, &QMessageBox::finished, this, [this] { history_.setScanFileError(std::nullopt); });
    box->open();
}

std::vector<FSNode::Ptr> BrowseView::expandedFolders() const {
    std::vector<FSNode::Ptr> out;
    std::vector<QModelIndex> work{QModelIndex()};
    while (!work.empty()) {
        const QModelIndex parent = work.back();
        work.pop_back();
        const int rows = outlineModel_->rowCount(parent);
        for (int row = 0; row < rows; ++row) {
            const QModelIndex index = outlineModel_->index(row, 0, parent);
            if (!outline_->isExpanded(index)) continue;
            out.push_back(outlineModel_->nodeRef(index));
            work.push_back(index);
        }
    }
    return out;
}

void BrowseView::expandAgain(const std::vector<FSNode::Ptr>& folders) {
    for (const FSNode::Ptr& folder : folders) {
        const QModelIndex index = outlineModel_->indexOf(folder.get());
        if (index.isValid()) outline_->expand(index);
    }
}

void BrowseView::comparisonChanged() {
    std::shared_ptr<const ScanComparison> comparison = history_.comparison();
    // A comparison of a tree that is no longer shown (a new scan came) waits
    // for the one of this tree.
    if (comparison && comparison->laterTree() != outlineModel_->root()) comparison = nullptr;
    const bool modeChanges = !comparison != !outlineModel_->comparison();
    std::vector<FSNode::Ptr> expanded;
    if (modeChanges) expanded = expandedFolders();
    // A gone row selected under the old comparison is not one of the new.
    const FSNode::Ptr selection = selection_;
    const bool selectionWasGone = isGone(selection);
    outlineModel_->setComparison(comparison);
    if (selectionWasGone && (!comparison || !comparison->isGone(*selection))) setSelection(nullptr);

    QHeaderView* header = outline_->header();
    if (comparison) {
        header->setHidden(false);
        header->setStretchLastSection(false);
        header->setSectionResizeMode(0, QHeaderView::Stretch);
        header->setSectionResizeMode(1, QHeaderView::Fixed);
        header->resizeSection(1, 170);
        if (!outline_->isSortingEnabled()) {
            header->setSortIndicator(1, Qt::DescendingOrder);
            outline_->setSortingEnabled(true);
        }
        treemap_->setAnnotation(
            [comparison](const FSNode& node) -> std::optional<QColor> {
                if (!comparison->knows(node)) return std::nullopt;
                return ChangeText::tileColor(comparison->change(node));
            },
            [comparison](const FSNode& node) {
                return comparison->knows(node) ? ChangeText::spoken(*comparison, node) : QString();
            });
    } else {
        outline_->setSortingEnabled(false);
        header->setHidden(true);
        treemap_->setAnnotation(nullptr, nullptr);
    }
    if (modeChanges) {
        expandAgain(expanded);
        selectInOutline(selection_);
    }
    legend_->setVisible(comparison != nullptr);
    treemap_->invalidate();
    refreshCompareBar();
    refreshDetail();
}

void BrowseView::refreshCompareBar() {
    QStringList lines;
    if (scan_.isShowingSavedScan() && history_.shownScan()) {
        const SavedScanInfo& shown = *history_.shownScan();
        lines << QStringLiteral("A saved scan of ") + Text::fromPath(shown.root) + QStringLiteral(", made ") +
                     when(shown.time) + QStringLiteral(" by ") + Text::fromUtf8(shown.source) +
                     QStringLiteral(". Nothing in it can be removed.");
    }
    const auto& with = history_.comparedWith();
    const auto comparison = outlineModel_->comparison();
    if (with) {
        if (!comparison) {
            lines << QStringLiteral("Comparing with the scan of ") + when(with->time) + QStringLiteral("\u2026");
        } else {
            lines << QStringLiteral("Compared with the scan of ") + when(with->time) + QStringLiteral(": ") +
                         ChangeText::column(*comparison, *comparison->laterTree());
        }
    } else if (history_.isLoadingScan()) {
        lines << QStringLiteral("Opening the scan\u2026");
    }
    compareText_->setText(lines.join(QLatin1Char('\n')));
    compareBar_->setVisible(!lines.isEmpty());
    stopComparing_->setVisible(with.has_value());
}

void BrowseView::refreshDetailComparison() {
    const auto comparison = outlineModel_->comparison();
    const FSNode::Ptr& node = selection_;
    const auto& with = history_.comparedWith();
    const auto& shown = history_.shownScan();
    if (!comparison || !node || !with || !comparison->knows(*node)) {
        detailCompare_->setVisible(false);
        return;
    }
    auto modified = [](const FSNode& n) {
        return n.modified != 0 ? QStringLiteral(", modified ") + when(n.modified) : QString();
    };
    const FSNode* then = comparison->earlier(*node);
    QString earlier = QStringLiteral("Then (") + when(with->time) + QStringLiteral("): ");
    earlier += then ? bytes(then->size) + modified(*then) : QStringLiteral("not there");
    QString now = QStringLiteral("Now") +
                  (shown ? QStringLiteral(" (") + when(shown->time) + QStringLiteral("): ") : QStringLiteral(": "));
    if (comparison->isGone(*node))
        now += QStringLiteral("gone");
    else
        now +=
            bytes(node->size) + modified(*node) + QStringLiteral(" \u00b7 ") + ChangeText::column(*comparison, *node);
    detailCompare_->setText(earlier + QLatin1Char('\n') + now);
    detailCompare_->setVisible(true);
}

} // namespace vessora
