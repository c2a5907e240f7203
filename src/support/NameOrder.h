#pragma once
// The order file browsers list names in: letters before case, digit runs by
// their numeric value ("App 2" before "App 10"), a lower-case name among the
// upper-case ones by its letters. Shared by the engines and the window, so a
// list sorts the same everywhere.

#include <string>
#include <string_view>

namespace vessora::NameOrder {

// <0, 0 or >0 as `a` sorts before, with or after `b` in the current locale.
// Only byte-identical names compare equal: a final comparison of the bytes
// (code-point order for UTF-8) breaks every tie the collator leaves.
int compare(std::string_view a, std::string_view b);
// The same in a named ICU locale ("de_DE"), for callers that must not depend on
// the environment.
int compare(std::string_view a, std::string_view b, const std::string& locale);

// compare(a, b) < 0, for std::sort and friends.
bool less(std::string_view a, std::string_view b);

} // namespace vessora::NameOrder
