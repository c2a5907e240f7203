#pragma once
// The question asked before anything is removed, the same on every screen:
// "Move to Trash" is the default button (Return), "Delete Immediately" is
// drawn as destructive and is never pressed by Return (Space or a click
// only), "Cancel" answers Escape, and the message ends with what deleting
// immediately means.

#include "removal/Remover.h"

#include <QMessageBox>
#include <QPushButton>

#include <functional>

namespace vessora {

// A dialog button for an action that cannot be undone: its text in the
// palette's red (readable on the button), never a default button, and deaf to
// Return and Enter even while it has focus.
class DestructiveButton : public QPushButton {
    Q_OBJECT
public:
    explicit DestructiveButton(const QString& text, QWidget* parent = nullptr);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void applyColors();
    bool applying_ = false;
};

namespace RemovalConfirmation {

// "Items deleted immediately cannot be put back."
QString deletionWarning();

// A window-modal question titled `title` with `message` and the warning line
// below it, not yet shown (callers open() it). `onChoice` runs with the mode
// of the button pressed; Cancel and Escape call nothing. Deleted on close.
QMessageBox* build(QWidget* parent, const QString& objectName, const QString& title, const QString& message,
                   std::function<void(RemovalMode)> onChoice);

} // namespace RemovalConfirmation
} // namespace vessora
