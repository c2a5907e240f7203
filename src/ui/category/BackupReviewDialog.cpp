#include "ui/category/BackupReviewDialog.h"

#include "support/Fmt.h"
#include "support/Paths.h"
#include "ui/cleanup/CleanupTexts.h"
#include "ui/kit/Colors.h"
#include "ui/kit/Fonts.h"
#include "ui/kit/Symbols.h"
#include "ui/kit/Text.h"
#include "ui/kit/Widgets.h"
#include "ui/kit/Workspace.h"

#include <QApplication>
#include <QFile>
#include <QHBoxLayout>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QToolTip>
#include <QVBoxLayout>

namespace vessora {

namespace {

QLabel* iconLabel(const char* symbol, const QColor& tint, int size, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setPixmap(Symbols::icon(symbol, tint).pixmap(size, size));
    label->setFixedSize(size, size);
    return label;
}

void tint(QLabel* label, const QColor& color) {
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, color);
    label->setPalette(pal);
}
} // namespace

BackupItemModel::BackupItemModel(std::vector<ArchivedItem> items, QObject* parent)
    : QAbstractListModel(parent), items_(std::move(items)) {}

int BackupItemModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : int(items_.size()); }

QVariant BackupItemModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || size_t(index.row()) >= items_.size()) return {};
    const ArchivedItem& item = items_[size_t(index.row())];
    const bool passes = CleanupTexts::passesSizeCheck(item);
    switch (role) {
    case Qt::DisplayRole: return Text::fromPath(Paths::lastComponent(item.source));
    case Qt::AccessibleTextRole:
        return Text::fromPath(Paths::lastComponent(item.source)) + ", " + index.data(SizeTextRole).toString();
    case PassesRole: return passes;
    case FolderRole: return Text::fromPath(Paths::parent(item.source));
    case SizeTextRole:
        return passes ? Text::fromUtf8(Fmt::bytes(item.copiedBytes))
                      : Text::fromUtf8(Fmt::bytes(item.copiedBytes) + " of " + Fmt::bytes(item.originalBytes));
    case CopyRole: return QByteArray::fromStdString(item.destination);
    default: return {};
    }
}

QRect BackupItemDelegate::revealRect(const QRect& row) {
    return {row.right() - 12 - 22 + 1, row.center().y() - 11, 22, 22};
}

QSize BackupItemDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const {
    const QFont base = option.widget ? option.widget->font() : QApplication::font();
    return {300, QFontMetrics(base).height() + QFontMetrics(Fonts::caption()).height() + 16};
}

void BackupItemDelegate::paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    p->save();
    const QRect r = option.rect;
    const QPalette& pal = option.palette;
    const QFont base = option.widget ? option.widget->font() : QApplication::font();
    const QFont caption = Fonts::caption();
    if (index.row() > 0) {
        p->setPen(Colors::separator(pal));
        p->drawLine(r.left(), r.top(), r.right(), r.top());
    }
    const bool passes = index.data(BackupItemModel::PassesRole).toBool();
    const QColor mark = passes ? Colors::green(pal) : Colors::orange(pal);
    Symbols::icon(passes ? "checkmark.circle.fill" : "exclamationmark.circle.fill", mark)
        .paint(p, QRect(r.left() + 12, r.center().y() - 8, 16, 16));
    Symbols::icon("arrow.up.forward.square", pal.color(QPalette::Link)).paint(p, revealRect(r).adjusted(3, 3, -3, -3));
    const QString size = index.data(BackupItemModel::SizeTextRole).toString();
    const QFont callout = Fonts::callout();
    const int sizeWidth = QFontMetrics(callout).horizontalAdvance(size) + 4;
    const QRect sizeRect(revealRect(r).left() - 8 - sizeWidth, r.top(), sizeWidth, r.height());
    p->setFont(callout);
    p->setPen(passes ? pal.color(QPalette::Text) : Colors::orange(pal));
    p->drawText(sizeRect, Qt::AlignRight | Qt::AlignVCenter | Qt::TextDontClip, size);
    const int left = r.left() + 38;
    const int width = std::max(0, sizeRect.left() - 10 - left);
    const QFontMetrics fm(base), cfm(caption);
    const int top = r.top() + (r.height() - fm.height() - cfm.height()) / 2;
    p->setFont(base);
    p->setPen(pal.color(QPalette::Text));
    p->drawText(QRect(left, top, width, fm.height()), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextDontClip,
                fm.elidedText(index.data(Qt::DisplayRole).toString(), Qt::ElideMiddle, width));
    p->setFont(caption);
    p->setPen(Colors::secondary(pal));
    p->drawText(QRect(left, top + fm.height(), width, cfm.height()),
                Qt::AlignLeft | Qt::AlignVCenter | Qt::TextDontClip,
                cfm.elidedText(index.data(BackupItemModel::FolderRole).toString(), Qt::ElideLeft, width));
    p->restore();
}

bool BackupItemDelegate::editorEvent(QEvent* event, QAbstractItemModel*, const QStyleOptionViewItem& option,
                                     const QModelIndex& index) {
    if (event->type() != QEvent::MouseButtonRelease) return false;
    auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() != Qt::LeftButton || !revealRect(option.rect).contains(mouse->position().toPoint()))
        return false;
    emit revealRequested(index.data(BackupItemModel::CopyRole).toByteArray().toStdString());
    return true;
}

bool BackupItemDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                                   const QModelIndex& index) {
    if (!event || !view) return false;
    if (revealRect(option.rect).contains(event->pos()))
        QToolTip::showText(event->globalPos(), Text::fromUtf8(CleanupTexts::showCopyInFileBrowser()), view,
                           revealRect(option.rect));
    else
        QToolTip::showText(event->globalPos(), index.data(BackupItemModel::FolderRole).toString(), view, option.rect);
    return true;
}

BackupReviewDialog::BackupReviewDialog(BackupReview* backup, const PendingRemoval& pending, QWidget* parent)
    : QDialog(parent), backup_(backup) {
    setObjectName("backupReview");
    setWindowTitle("Backup Review");
    setWindowModality(Qt::WindowModal);
    setMinimumSize(560, 460);
    const QPalette pal = palette();

    size_t mismatched = 0;
    for (const auto& item : pending.items) mismatched += CleanupTexts::passesSizeCheck(item) ? 0 : 1;

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    auto* header = new QWidget(this);
    auto* headerLayout = new QVBoxLayout(header);
    headerLayout->setContentsMargins(20, 18, 20, 14);
    headerLayout->setSpacing(10);

    auto* titleRow = new QHBoxLayout;
    titleRow->setSpacing(12);
    titleRow->addWidget(mismatched == 0 ? iconLabel("checkmark.shield.fill", Colors::green(pal), 32, header)
                                        : iconLabel("exclamationmark.triangle.fill", Colors::orange(pal), 32, header),
                        0, Qt::AlignTop);
    auto* titles = new QVBoxLayout;
    titles->setSpacing(2);
    auto* title = Widgets::label("Backup complete. Nothing has been deleted yet.", Fonts::headline(), false, header);
    title->setObjectName("backupReview.title");
    titles->addWidget(title);
    auto* subtitle = Widgets::label(Text::fromUtf8(CleanupTexts::reviewSubtitle(pending.items.size(), pending.bytes)),
                                    Fonts::callout(), true, header);
    subtitle->setObjectName("backupReview.subtitle");
    titles->addWidget(subtitle);
    titleRow->addLayout(titles, 1);
    headerLayout->addLayout(titleRow);

    if (mismatched > 0) {
        auto* warning =
            Widgets::label(Text::fromUtf8(CleanupTexts::mismatchWarning(mismatched)), Fonts::callout(), false, header);
        warning->setObjectName("backupReview.mismatch");
        warning->setWordWrap(true);
        tint(warning, Colors::orange(pal));
        headerLayout->addWidget(warning);
    }

    auto* folderRow = new QHBoxLayout;
    folderRow->addWidget(iconLabel("folder", Colors::secondary(pal), 16, header));
    auto* destination = Widgets::label(Text::fromPath(pending.destination), Fonts::monospaced(), false, header);
    destination->setObjectName("backupReview.destination");
    destination->setTextInteractionFlags(Qt::TextSelectableByMouse);
    destination->setWordWrap(true);
    folderRow->addWidget(destination, 1);
    auto* open = new QPushButton(Text::fromUtf8(CleanupTexts::openInFileBrowser()), header);
    Symbols::attach(open, "arrow.up.forward.square");
    open->setObjectName("backupReview.open");
    folderRow->addWidget(open);
    headerLayout->addLayout(folderRow);
    const std::string folder = pending.destination;
    connect(open, &QPushButton::clicked, this, [this, folder] {
        Workspace::instance().reveal({folder});
        revealed_ = true;
        hint_->hide();
    });

    if (pending.readableExport) {
        auto* row = new QHBoxLayout;
        row->addWidget(iconLabel("doc.richtext", Colors::secondary(pal), 16, header));
        auto* text = Widgets::label("A readable transcript was written alongside the database.", Fonts::callout(),
                                    false, header);
        text->setObjectName("backupReview.transcript");
        text->setWordWrap(true);
        row->addWidget(text, 1);
        auto* openArchive = new QPushButton("Open Messages Archive", header);
        openArchive->setObjectName("backupReview.openTranscript");
        const std::string transcript = *pending.readableExport;
        connect(openArchive, &QPushButton::clicked, this, [transcript] { Workspace::instance().openPath(transcript); });
        row->addWidget(openArchive);
        headerLayout->addLayout(row);
    }
    if (pending.sameVolumeAsSource) {
        auto* row = new QHBoxLayout;
        row->addWidget(iconLabel("externaldrive.badge.exclamationmark", Colors::orange(pal), 16, header), 0,
                       Qt::AlignTop);
        auto* text = Widgets::label("This backup is on the same disk as the originals, so deleting them will not free "
                                    "space until you move this folder off the disk or delete it too.",
                                    Fonts::callout(), false, header);
        text->setObjectName("backupReview.sameDisk");
        text->setWordWrap(true);
        row->addWidget(text, 1);
        headerLayout->addLayout(row);
    }
    column->addWidget(header);
    column->addWidget(Widgets::divider(this));

    auto* list = new QListView(this);
    items_ = list;
    list->setObjectName("backupReview.items");
    list->setAccessibleName("Copied items");
    list->setFrameShape(QFrame::NoFrame);
    list->setUniformItemSizes(true);
    list->setSelectionMode(QAbstractItemView::NoSelection);
    list->setMouseTracking(true);
    list->setModel(new BackupItemModel(pending.items, list));
    auto* delegate = new BackupItemDelegate(list);
    list->setItemDelegate(delegate);
    connect(delegate, &BackupItemDelegate::revealRequested, this,
            [](const std::string& path) { Workspace::instance().reveal({path}); });
    // The keyboard's way to a copy: Return on the current row, or its menu.
    // The key stops at the list: the sheet's buttons (Delete Originals among
    // them) never see it.
    list->installEventFilter(this);
    connect(list, &QListView::activated, this, [](const QModelIndex& index) {
        Workspace::instance().reveal({index.data(BackupItemModel::CopyRole).toByteArray().toStdString()});
    });
    list->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(list, &QWidget::customContextMenuRequested, this, [this, list](const QPoint& at) {
        const QModelIndex index = list->indexAt(at).isValid() ? list->indexAt(at) : list->currentIndex();
        if (!index.isValid()) return;
        const std::string path = index.data(BackupItemModel::CopyRole).toByteArray().toStdString();
        auto* menu = new QMenu(this);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->addAction(Text::fromUtf8(CleanupTexts::showCopyInFileBrowser()), this,
                        [path] { Workspace::instance().reveal({path}); });
        menu->popup(list->viewport()->mapToGlobal(list->visualRect(index).center()));
    });
    column->addWidget(list, 1);
    column->addWidget(Widgets::divider(this));

    auto* footer = new QHBoxLayout;
    footer->setContentsMargins(20, 12, 20, 14);
    auto* captions = new QVBoxLayout;
    captions->setSpacing(2);
    auto* mode = Widgets::label(Text::fromUtf8(CleanupTexts::reviewFooter(pending.mode)), Fonts::caption(),
                                pending.mode != RemovalMode::deleteImmediately, this);
    mode->setObjectName("backupReview.footer");
    if (pending.mode == RemovalMode::deleteImmediately) tint(mode, Colors::orange(pal));
    captions->addWidget(mode);
    hint_ = Widgets::label("Open the folder and check it first.", Fonts::caption(), true, this);
    hint_->setObjectName("backupReview.hint");
    captions->addWidget(hint_);
    footer->addLayout(captions, 1);
    keep_ = new QPushButton("Keep Both", this);
    keep_->setObjectName("backupReview.keepBoth");
    keep_->setAutoDefault(false);
    footer->addWidget(keep_);
    confirm_ = Widgets::prominentButton(Text::fromUtf8(CleanupTexts::confirmDeletionTitle(pending.mode)), this);
    confirm_->setObjectName("backupReview.confirm");
    confirm_->setAutoDefault(false);
    Widgets::setProminentRed(confirm_, true);
    footer->addWidget(confirm_);
    column->addLayout(footer);

    connect(keep_, &QPushButton::clicked, this, [this] { decide(false); });
    connect(confirm_, &QPushButton::clicked, this, [this] { decide(true); });
    // Escape, the close button or a parent going away: both are kept.
    connect(this, &QDialog::rejected, this, [this] { decide(false); });
    // The pending deletion ended elsewhere: nothing is left to decide.
    connect(backup_, &BackupReview::pendingDeletionChanged, this, [this] {
        if (!backup_->pendingDeletion() && !decided_) {
            decided_ = true;
            reject();
        }
    });
}

bool BackupReviewDialog::eventFilter(QObject* watched, QEvent* event) {
    if (watched == items_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            if (items_->currentIndex().isValid()) emit items_->activated(items_->currentIndex());
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void BackupReviewDialog::decide(bool deleteOriginals) {
    if (decided_) return;
    decided_ = true;
    if (deleteOriginals) {
        accept();
        backup_->confirmPendingDeletion();
    } else {
        reject();
        backup_->cancelPendingDeletion();
    }
}

} // namespace vessora
