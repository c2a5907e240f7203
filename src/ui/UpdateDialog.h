#pragma once
// The update sheet: the updater's state as a symbol, a title, a body and
// buttons, rebuilt from Updater::state on every change. Window-modal; its
// closing buttons only hide it, and the updater goes on (a download keeps
// running, a staged build stays staged).

#include "update/UpdateState.h"

#include <QDialog>

#include <functional>
#include <optional>

class QHBoxLayout;
class QLabel;
class QProgressBar;
class QPushButton;
class QVBoxLayout;

namespace vessora {

class SecondaryLabel;
class Updater;

class UpdateDialog : public QDialog {
    Q_OBJECT
public:
    explicit UpdateDialog(Updater& updater, QWidget* parent = nullptr);
    // Shows `state` instead of the updater's until cleared (screenshots).
    void setPreviewState(std::optional<UpdateState> state);
    // The title now shown.
    QString title() const;

protected:
    void changeEvent(QEvent* event) override;

private:
    const UpdateState& state() const;
    void rebuild();
    void updateFooterText();
    QPushButton* addButton(const QString& text, bool prominent, std::function<void()> action);

    Updater& updater_;
    std::optional<UpdateState> preview_;
    std::optional<UpdateState> shown_;
    QLabel* icon_;
    QLabel* title_;
    SecondaryLabel* installed_;
    QWidget* body_ = nullptr;
    QVBoxLayout* bodySlot_;
    QProgressBar* progress_ = nullptr;
    SecondaryLabel* lastChecked_;
    QHBoxLayout* buttons_;
};

} // namespace vessora
