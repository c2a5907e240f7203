#include "ui/kit/RemovalConfirmation.h"

#include "removal/RemovalTexts.h"
#include "ui/kit/Colors.h"
#include "ui/kit/Text.h"

#include <QEvent>
#include <QKeyEvent>

namespace vessora {

DestructiveButton::DestructiveButton(const QString& text, QWidget* parent) : QPushButton(text, parent) {
    // Never the dialog's default, not even while it has focus.
    setAutoDefault(false);
    setDefault(false);
    applyColors();
}

void DestructiveButton::keyPressEvent(QKeyEvent* event) {
    // Accepted and dropped: neither this button nor the dialog's default acts.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        return;
    }
    QPushButton::keyPressEvent(event);
}

void DestructiveButton::changeEvent(QEvent* event) {
    QPushButton::changeEvent(event);
    if ((event->type() == QEvent::PaletteChange || event->type() == QEvent::ParentChange) && !applying_) applyColors();
}

void DestructiveButton::applyColors() {
    applying_ = true;
    QPalette p = parentWidget() ? parentWidget()->palette() : palette();
    for (auto group : {QPalette::Active, QPalette::Inactive})
        p.setColor(group, QPalette::ButtonText, Colors::readable(Colors::red(p), Colors::buttonFace(p, group)));
    setPalette(p);
    applying_ = false;
}

namespace RemovalConfirmation {

QString deletionWarning() { return QStringLiteral("Items deleted immediately cannot be put back."); }

QMessageBox* build(QWidget* parent, const QString& objectName, const QString& title, const QString& message,
                   std::function<void(RemovalMode)> onChoice) {
    auto* box = new QMessageBox(parent);
    box->setObjectName(objectName);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setIcon(QMessageBox::Warning);
    box->setWindowTitle(title);
    box->setText(title);
    box->setInformativeText(message + QLatin1Char('\n') + deletionWarning());
    // After both texts: names and paths in them are shown as they are.
    box->setTextFormat(Qt::PlainText);
    QPushButton* trash = box->addButton(Text::fromUtf8(std::string(RemovalTexts::buttonText(RemovalMode::trash))),
                                        QMessageBox::AcceptRole);
    trash->setObjectName(QStringLiteral("confirmation.trash"));
    auto* erase = new DestructiveButton(
        Text::fromUtf8(std::string(RemovalTexts::buttonText(RemovalMode::deleteImmediately))), box);
    erase->setObjectName(QStringLiteral("confirmation.delete"));
    box->addButton(erase, QMessageBox::DestructiveRole);
    QPushButton* cancel = box->addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    cancel->setObjectName(QStringLiteral("confirmation.cancel"));
    box->setDefaultButton(trash);
    box->setEscapeButton(cancel);
    QObject::connect(box, &QMessageBox::buttonClicked, box,
                     [trash, erase, onChoice = std::move(onChoice)](QAbstractButton* button) {
                         if (button == trash) onChoice(RemovalMode::trash);
                         if (button == erase) onChoice(RemovalMode::deleteImmediately);
                     });
    return box;
}

} // namespace RemovalConfirmation
} // namespace vessora
