#pragma once
// What the engines need around ICU's C API, the only part of ICU they use:
// the command-line tools load ICU when a command first needs it
// (cli/LazyLibraries.cpp), and only plain C functions can be loaded that way.

#include "support/Date.h"

#include <unicode/udat.h>
#include <unicode/utypes.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace vessora::Icu {

// UTF-16 for ICU. Bytes that are not UTF-8 become U+FFFD.
std::u16string fromUtf8(std::string_view text);
// UTF-8 from ICU. An unpaired surrogate becomes U+FFFD.
std::string toUtf8(std::u16string_view text);

// `date` as `format` writes it; nothing when ICU fails.
std::optional<std::string> formatDate(const UDateFormat* format, Date date);

// The text an ICU function writes into a buffer, the function given as
// write(buffer, capacity, status) returning the text's full length: a text
// longer than the first guess is written again into a buffer of its length.
// Nothing when ICU reports a failure.
template <class Write> std::optional<std::u16string> written(Write write) {
    std::u16string text(64, u'\0');
    UErrorCode status = U_ZERO_ERROR;
    int32_t length = write(text.data(), int32_t(text.size()), &status);
    if (status == U_BUFFER_OVERFLOW_ERROR && length > 0) {
        text.resize(size_t(length));
        status = U_ZERO_ERROR;
        length = write(text.data(), int32_t(text.size()), &status);
    }
    if (U_FAILURE(status) || length < 0 || size_t(length) > text.size()) return std::nullopt;
    text.resize(size_t(length));
    return text;
}

// An ICU object that its close function releases.
template <auto close> struct Closer {
    template <class T> void operator()(T* object) const { close(object); }
};
template <class T, auto close> using Owned = std::unique_ptr<T, Closer<close>>;

} // namespace vessora::Icu
