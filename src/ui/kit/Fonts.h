#pragma once
// Fonts by role, derived from the application font each time they are asked
// for, so a font change (ApplicationFontChange) is followed without caches to
// invalidate. Widgets that keep a role font re-read it in changeEvent.

#include <QFont>

namespace vessora::Fonts {

enum class Role { largeTitle, title, title3, headline, body, callout, caption, caption2, monospaced };

QFont font(Role role);
// The role font at a weight (title DemiBold for volume names, title-3 Medium ...).
QFont font(Role role, QFont::Weight weight);

inline QFont largeTitle() { return font(Role::largeTitle); }
inline QFont title() { return font(Role::title); }
inline QFont title3() { return font(Role::title3); }
inline QFont headline() { return font(Role::headline); }
inline QFont body() { return font(Role::body); }
inline QFont callout() { return font(Role::callout); }
inline QFont caption() { return font(Role::caption); }
inline QFont caption2() { return font(Role::caption2); }
inline QFont monospaced() { return font(Role::monospaced); }

// True when '0' to '9' all have the same advance in `font`, so sizes can be
// drawn as they are and still line up.
bool hasTabularDigits(const QFont& font);

} // namespace vessora::Fonts
