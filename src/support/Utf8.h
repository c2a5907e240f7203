#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace vessora::Utf8 {

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool isValid(std::string_view bytes);

// Appends the UTF-8 encoding of the code point `code` (at most U+10FFFF; the
// caller has ruled out surrogates where they matter).
void append(std::string& out, uint32_t code);

// Length of the valid UTF-8 sequence starting at bytes[i], or 0 when the byte
// there does not start one.
size_t sequenceLength(std::string_view bytes, size_t i);

// A name or path made safe to show as part of a line: control characters
// (C0, DEL and C1; newlines and escape sequences included), the Unicode line
// and paragraph separators and bytes that are not UTF-8 are written as
// C-style escapes ("\n", "\x1b", "\xff", "\u2028"), so a name can neither
// forge a line nor drive a terminal. With `escapeBackslash` a backslash is
// doubled as well, which keeps the escapes unambiguous (the terminal); the
// window leaves it alone.
std::string printable(std::string_view bytes, bool escapeBackslash = true);

} // namespace vessora::Utf8
