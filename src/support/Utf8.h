#pragma once
#include <string>
#include <string_view>

namespace vessora::Utf8 {

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool isValid(std::string_view bytes);

// Length of the valid UTF-8 sequence starting at bytes[i], or 0 when the byte
// there does not start one.
size_t sequenceLength(std::string_view bytes, size_t i);

} // namespace vessora::Utf8
