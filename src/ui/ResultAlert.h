#pragma once
// What the window says about a removal: a title, the lines of the message
// and which buttons to offer. Pure, so every rule is testable without a box.

#include "removal/Remover.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace vessora {

struct ResultAlertContent {
    enum class Buttons { ok, authenticateOrSkip };
    QString title;
    QStringList lines;
    Buttons buttons = Buttons::ok;
    QString message() const { return lines.join(QLatin1Char('\n')); }
};

// Nothing when all three lists of the result are empty.
std::optional<ResultAlertContent> resultAlertContent(const RemovalResult& result);

} // namespace vessora
