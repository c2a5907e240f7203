#include "ui/UpdateDialog.h"

#include "support/Fmt.h"
#include "ui/kit/Colors.h"
#include "ui/kit/Fonts.h"
#include "ui/kit/LinkButton.h"
#include "ui/kit/ProminentButton.h"
#include "ui/kit/SecondaryLabel.h"
#include "ui/kit/Symbols.h"
#include "ui/kit/Text.h"
#include "ui/kit/Workspace.h"
#include "update/UpdateLog.h"
#include "update/Updater.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include <cmath>

namespace vessora {

namespace {

using Kind = UpdateState::Kind;

QString symbolFor(Kind kind) {
    switch (kind) {
    case Kind::idle:
    case Kind::checking: return QStringLiteral("arrow.triangle.2.circlepath");
    case Kind::upToDate:
    case Kind::packageManaged: return QStringLiteral("checkmark.circle");
    case Kind::available:
    case Kind::downloading: return QStringLiteral("arrow.down.circle");
    case Kind::readyToRelaunch: return QStringLiteral("checkmark.seal");
    case Kind::failed: return QStringLiteral("exclamationmark.triangle");
    }
    return {};
}

QColor colorFor(Kind kind, const QPalette& palette) {
    switch (kind) {
    case Kind::upToDate:
    case Kind::readyToRelaunch: return Colors::green(palette);
    case Kind::failed: return Colors::orange(palette);
    default: return Colors::accent(palette);
    }
}

QString titleFor(const UpdateState& state) {
    switch (state.kind()) {
    case Kind::idle: return QStringLiteral("Updates");
    case Kind::checking: return QStringLiteral("Checking for updates");
    case Kind::upToDate: return QStringLiteral("Vessora is up to date");
    case Kind::available:
        return QStringLiteral("Version %1 (build %2) is available").arg(state.version()).arg(state.build());
    case Kind::downloading: return QStringLiteral("Downloading");
    case Kind::readyToRelaunch: return QStringLiteral("Ready to install");
    case Kind::failed: return QStringLiteral("Could not update");
    case Kind::packageManaged: return QStringLiteral("Updates");
    }
    return {};
}

SecondaryLabel* wrappedText(const QString& text, QWidget* parent) {
    auto* label = new SecondaryLabel(text, parent);
    label->setFont(Fonts::callout());
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

// A negative progress means the length is not known: a busy bar then.
void setProgress(QProgressBar* bar, double progress) {
    if (progress < 0 || !std::isfinite(progress)) {
        bar->setRange(0, 0);
        return;
    }
    bar->setRange(0, 1000);
    bar->setValue(int(std::lround(std::min(progress, 1.0) * 1000)));
}

} // namespace

UpdateDialog::UpdateDialog(Updater& updater, QWidget* parent) : QDialog(parent), updater_(updater) {
    setObjectName(QStringLiteral("update.sheet"));
    setWindowTitle(QStringLiteral("Software Update"));
    setWindowModality(Qt::WindowModal);
    setFixedWidth(460);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(16);

    auto* header = new QHBoxLayout;
    header->setSpacing(12);
    icon_ = new QLabel(this);
    icon_->setObjectName(QStringLiteral("update.icon"));
    icon_->setFixedWidth(34);
    icon_->setAlignment(Qt::AlignCenter);
    header->addWidget(icon_, 0, Qt::AlignTop);
    auto* titles = new QVBoxLayout;
    titles->setSpacing(2);
    title_ = new QLabel(this);
    title_->setObjectName(QStringLiteral("update.title"));
    title_->setTextFormat(Qt::PlainText);
    title_->setWordWrap(true);
    title_->setFont(Fonts::font(Fonts::Role::title3, QFont::DemiBold));
    installed_ = new SecondaryLabel(
        QStringLiteral("Installed: %1 (build %2)").arg(updater_.currentVersion()).arg(updater_.currentBuild()), this);
    installed_->setObjectName(QStringLiteral("update.installed"));
    installed_->setFont(Fonts::callout());
    titles->addWidget(title_);
    titles->addWidget(installed_);
    header->addLayout(titles, 1);
    layout->addLayout(header);

    bodySlot_ = new QVBoxLayout;
    bodySlot_->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(bodySlot_);

    auto* footer = new QHBoxLayout;
    footer->setSpacing(8);
    lastChecked_ = new SecondaryLabel({}, this);
    lastChecked_->setObjectName(QStringLiteral("update.lastChecked"));
    lastChecked_->setFont(Fonts::caption());
    footer->addWidget(lastChecked_);
    footer->addStretch(1);
    buttons_ = new QHBoxLayout;
    buttons_->setSpacing(8);
    footer->addLayout(buttons_);
    layout->addLayout(footer);

    connect(&updater_, &Updater::stateChanged, this, &UpdateDialog::rebuild);
    connect(&updater_, &Updater::lastCheckedChanged, this, &UpdateDialog::updateFooterText);
    rebuild();
}

void UpdateDialog::setPreviewState(std::optional<UpdateState> state) {
    preview_ = std::move(state);
    shown_.reset();
    rebuild();
}

const UpdateState& UpdateDialog::state() const { return preview_ ? *preview_ : updater_.state(); }

QString UpdateDialog::title() const { return title_->text(); }

QPushButton* UpdateDialog::addButton(const QString& text, bool prominent, std::function<void()> action) {
    QPushButton* button =
        prominent ? new ProminentButton(text, ProminentButton::Kind::accent, this) : new QPushButton(text, this);
    button->setAutoDefault(false);
    if (prominent) button->setDefault(true);
    connect(button, &QPushButton::clicked, this, std::move(action));
    buttons_->addWidget(button);
    return button;
}

void UpdateDialog::rebuild() {
    const UpdateState& current = state();
    // Progress ticks only move the bar, so nothing loses focus mid-download.
    if (shown_ && shown_->kind() == Kind::downloading && current.kind() == Kind::downloading && progress_) {
        setProgress(progress_, current.progress());
        shown_ = current;
        return;
    }
    shown_ = current;
    const Kind kind = current.kind();

    icon_->setPixmap(Symbols::pixmap(symbolFor(kind), 30, colorFor(kind, palette()), devicePixelRatioF()));
    icon_->setAccessibleName(titleFor(current));
    title_->setText(titleFor(current));

    // Nothing in the body can be mid-signal here (state changes come from the
    // updater or the footer buttons), so it goes at once.
    delete body_;
    body_ = nullptr;
    progress_ = nullptr;
    auto* body = new QWidget(this);
    body->setObjectName(QStringLiteral("update.body"));
    auto* bodyLayout = new QVBoxLayout(body);
    bodyLayout->setContentsMargins(0, 0, 0, 0);
    bodyLayout->setSpacing(6);
    bool hasBody = true;
    switch (kind) {
    case Kind::checking:
    case Kind::downloading: {
        progress_ = new QProgressBar(body);
        progress_->setObjectName(QStringLiteral("update.progress"));
        progress_->setAccessibleName(titleFor(current));
        progress_->setTextVisible(false);
        if (kind == Kind::checking)
            progress_->setRange(0, 0);
        else
            setProgress(progress_, current.progress());
        bodyLayout->addWidget(progress_);
        break;
    }
    case Kind::available: {
        const auto& notes = current.notes();
        if (!notes || notes->trimmed().isEmpty()) {
            hasBody = false;
            break;
        }
        auto* scroll = new QScrollArea(body);
        scroll->setObjectName(QStringLiteral("update.notes"));
        scroll->setWidgetResizable(true);
        scroll->setMaximumHeight(140);
        scroll->setFrameShape(QFrame::StyledPanel);
        scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        auto* text = new QLabel(*notes);
        text->setTextFormat(Qt::PlainText);
        text->setWordWrap(true);
        text->setFont(Fonts::callout());
        text->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        text->setContentsMargins(8, 6, 8, 6);
        text->setTextInteractionFlags(Qt::TextSelectableByMouse);
        scroll->setWidget(text);
        scroll->setAccessibleName(QStringLiteral("Release notes"));
        bodyLayout->addWidget(scroll);
        break;
    }
    case Kind::readyToRelaunch:
        bodyLayout->addWidget(wrappedText(
            QStringLiteral("Downloaded and signature-checked. Vessora will quit and reopen on the new version."),
            body));
        break;
    case Kind::failed: {
        bodyLayout->addWidget(wrappedText(current.message(), body));
        auto* showLog = new LinkButton(QStringLiteral("Show Log"), body);
        showLog->setObjectName(QStringLiteral("update.showLog"));
        // Where no program opens the log, its last lines are shown here.
        connect(showLog, &QPushButton::clicked, this, [this, showLog, bodyLayout] {
            if (Workspace::instance().openPath(UpdateLog::path())) return;
            showLog->hide();
            auto* lines = new QPlainTextEdit(showLog->parentWidget());
            lines->setObjectName(QStringLiteral("update.logTail"));
            lines->setAccessibleName(QStringLiteral("Update log"));
            lines->setReadOnly(true);
            lines->setLineWrapMode(QPlainTextEdit::NoWrap);
            lines->setFont(Fonts::caption());
            lines->setMaximumHeight(160);
            const std::string tail = UpdateLog::tail(40);
            lines->setPlainText(tail.empty() ? QStringLiteral("The update log is empty.") : Text::fromUtf8(tail));
            lines->moveCursor(QTextCursor::End);
            bodyLayout->addWidget(lines);
            layout()->activate();
            resize(460, heightForWidth(460) > 0 ? heightForWidth(460) : sizeHint().height());
        });
        bodyLayout->addWidget(showLog, 0, Qt::AlignLeft);
        break;
    }
    case Kind::packageManaged: bodyLayout->addWidget(wrappedText(Updater::packageManagedMessage(), body)); break;
    case Kind::idle:
    case Kind::upToDate: hasBody = false; break;
    }
    if (hasBody) {
        body_ = body;
        bodySlot_->addWidget(body_);
    } else {
        delete body;
    }

    // A footer button may be the sender of this very change ("Check Again"),
    // so the old ones are detached now and deleted later.
    while (QLayoutItem* item = buttons_->takeAt(0)) {
        if (QWidget* widget = item->widget()) {
            widget->hide();
            widget->setParent(nullptr);
            widget->deleteLater();
        }
        delete item;
    }
    auto close = [this] { hide(); };
    auto checkAgain = [this] { updater_.check(false); };
    switch (kind) {
    case Kind::idle:
    case Kind::upToDate:
    case Kind::failed:
        addButton(QStringLiteral("Check Again"), false, checkAgain);
        addButton(QStringLiteral("Done"), true, close);
        break;
    case Kind::checking:
    case Kind::downloading: addButton(QStringLiteral("Cancel"), false, close); break;
    case Kind::available:
        addButton(QStringLiteral("Not Now"), false, close);
        addButton(QStringLiteral("Download and Install"), true, [this] { updater_.downloadAndStage(); });
        break;
    case Kind::readyToRelaunch:
        addButton(QStringLiteral("Later"), false, close);
        addButton(QStringLiteral("Relaunch Now"), true, [this] { updater_.installAndRelaunch(); });
        break;
    // The package manager updates this copy: nothing to check or download here.
    case Kind::packageManaged: addButton(QStringLiteral("Done"), true, close); break;
    }
    updateFooterText();
    // The width stays 460; the height follows what the state shows.
    layout()->activate();
    resize(460, heightForWidth(460) > 0 ? heightForWidth(460) : sizeHint().height());
}

void UpdateDialog::updateFooterText() {
    const auto& when = updater_.lastChecked();
    lastChecked_->setVisible(when.has_value());
    if (when)
        lastChecked_->setText(
            QStringLiteral("Last checked ") +
            Text::fromUtf8(Fmt::relativeDate(Date(std::chrono::milliseconds(when->toMSecsSinceEpoch())))));
}

void UpdateDialog::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    if (event->type() == QEvent::PaletteChange && shown_) {
        icon_->setPixmap(
            Symbols::pixmap(symbolFor(shown_->kind()), 30, colorFor(shown_->kind(), palette()), devicePixelRatioF()));
    }
}

} // namespace vessora
