#pragma once
// How a change since an earlier scan is written and coloured, in the outline's
// Change column, the treemap, its legend and the detail panel.

#include "scan/ScanComparison.h"

#include <QColor>
#include <QPalette>
#include <QString>

namespace vessora::ChangeText {

using Change = ScanComparison::Change;

// "+312 MB (+25%)", "−4 MB (−50%)", "New, +12 MB", "Gone, −4 MB", "No change".
QString column(const ScanComparison& comparison, const FSNode& node);
// The same in words for assistive technology: "grew by 312 MB, 25 percent".
QString spoken(const ScanComparison& comparison, const FSNode& node);
// A signed size with a true minus sign: "+312 MB", "−4 MB".
QString delta(int64_t bytes);
// "Grew", "Shrank", "New", "Gone", "Same".
QString label(Change change);
// The change's text colour on the palette's background (readable on it).
QColor textColor(Change change, const QPalette& palette);
// The treemap's fill for a change: dark enough for its white labels in
// both schemes (at least 4.5:1, also for the size drawn at 85 %).
QColor tileColor(Change change);

} // namespace vessora::ChangeText
