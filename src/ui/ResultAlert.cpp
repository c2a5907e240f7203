#include "ui/ResultAlert.h"

#include "removal/Remover.h"
#include "support/Fmt.h"
#include "ui/kit/Text.h"

namespace vessora {

namespace {
QString items(size_t count) { return Text::fromUtf8(Fmt::counted(int64_t(count), "item")); }
} // namespace

std::optional<ResultAlertContent> resultAlertContent(const RemovalResult& result) {
    if (result.succeeded.empty() && result.failed.empty() && result.needsAdmin.empty()) return std::nullopt;
    ResultAlertContent content;
    if (!result.succeeded.empty())
        content.lines << QStringLiteral("Removed %1, reclaiming %2.")
                             .arg(items(result.succeeded.size()), Text::fromUtf8(Fmt::bytes(result.bytesFreed)));
    if (!result.needsAdmin.empty())
        // Says also when the items were partly removed, and that the Trash is
        // not an option with administrator rights.
        content.lines << Text::fromUtf8(Remover::needsAdminLine(result));
    for (size_t i = 0; i < result.failed.size() && i < 4; ++i)
        content.lines << Text::fileName(result.failed[i].url) + QStringLiteral(": ") +
                             Text::fromUtf8(result.failed[i].reason);
    if (result.failed.size() >= 5) content.lines << QStringLiteral("and %1 more.").arg(result.failed.size() - 4);

    if (!result.needsAdmin.empty()) {
        content.title = QStringLiteral("Some items need admin rights");
        content.buttons = ResultAlertContent::Buttons::authenticateOrSkip;
    } else {
        content.title = result.failed.empty() ? QStringLiteral("Done") : QStringLiteral("Finished with problems");
    }
    return content;
}

} // namespace vessora
