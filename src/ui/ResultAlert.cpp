#include "ui/ResultAlert.h"

#include "removal/RemovalTexts.h"
#include "support/Fmt.h"
#include "ui/kit/Text.h"

namespace vessora {

namespace {

QString bytes(int64_t count) { return count < 1 ? QStringLiteral("Zero KB") : Text::fromUtf8(Fmt::bytes(count)); }

// What the line is about: the one item's name, or "N items" with the first
// three names. The count is at least 2 in the plural, so the noun is right.
QString named(const std::vector<std::string>& urls) {
    const auto quoted = [](const std::string& url) { return QStringLiteral("“%1”").arg(Text::fileName(url)); };
    if (urls.size() == 1) return quoted(urls.front());
    QStringList first;
    for (size_t i = 0; i < urls.size() && i < 3; ++i) first << quoted(urls[i]);
    QString names = first.join(QStringLiteral(", "));
    if (urls.size() > 3)
        names += QStringLiteral(" and %1 more").arg(Text::fromUtf8(Fmt::count(int64_t(urls.size() - 3))));
    return QStringLiteral("%1 items (%2)").arg(Text::fromUtf8(Fmt::count(int64_t(urls.size()))), names);
}

} // namespace

std::optional<ResultAlertContent> resultAlertContent(const RemovalResult& result) {
    if (result.succeeded.empty() && result.failed.empty() && result.needsAdmin.empty()) return std::nullopt;
    ResultAlertContent content;
    // Deleted and moved to the Trash are told apart: only deleting frees space now.
    std::vector<std::string> deleted, trashed;
    for (const std::string& url : result.succeeded) (result.movedToTrash.count(url) ? trashed : deleted).push_back(url);
    if (!deleted.empty())
        content.lines << QStringLiteral("Removed %1, reclaiming %2.").arg(named(deleted), bytes(result.bytesFreed));
    else if (result.bytesFreed > 0)
        content.lines << QStringLiteral("Reclaimed %1 from items only partly removed.").arg(bytes(result.bytesFreed));
    if (!trashed.empty())
        content.lines << QStringLiteral("Moved %1 to the Trash (%2, freed when the Trash is emptied).")
                             .arg(named(trashed), bytes(result.bytesMovedToTrash));
    if (!result.needsAdmin.empty())
        // Says also when the items were partly removed, and that the Trash is
        // not an option with administrator rights.
        content.lines << Text::fromUtf8(RemovalTexts::needsAdminLine(result));
    for (size_t i = 0; i < result.failed.size() && i < 4; ++i)
        content.lines << Text::fileName(result.failed[i].path) + QStringLiteral(": ") +
                             Text::fromUtf8(result.failed[i].reason);
    if (result.failed.size() >= 5) content.lines << QStringLiteral("and %1 more.").arg(result.failed.size() - 4);
    if (!result.note.empty()) content.lines << Text::fromUtf8(result.note);

    if (!result.needsAdmin.empty()) {
        content.title = QStringLiteral("Some items need admin rights");
        content.buttons = ResultAlertContent::Buttons::authenticateOrSkip;
    } else {
        content.title = result.failed.empty() ? QStringLiteral("Done") : QStringLiteral("Finished with problems");
    }
    return content;
}

} // namespace vessora
