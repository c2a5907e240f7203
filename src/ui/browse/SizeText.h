#pragma once
// Byte counts as shown in rows and tiles. Formatting through ICU costs tens
// of microseconds, and a scrolled outline or a repainted treemap asks for
// the same few sizes again and again, so texts are kept per byte count
// (main thread only; the cache is dropped whole when it grows large).

#include "support/Fmt.h"
#include "ui/kit/Text.h"

#include <QHash>
#include <QString>

namespace vessora {

inline QString sizeText(int64_t bytes) {
    static QHash<int64_t, QString> texts;
    if (auto it = texts.constFind(bytes); it != texts.cend()) return *it;
    if (texts.size() > 20000) texts.clear();
    return *texts.insert(bytes, Text::fromUtf8(Fmt::bytes(bytes)));
}

} // namespace vessora
