#include "support/Icu.h"

#include <unicode/ustring.h>

namespace vessora::Icu {
namespace {

// Converts with one of ICU's substituting converters into a buffer of
// `perUnit` output units for each input unit, which always suffices.
template <class Out, class In, class Convert> Out converted(In text, size_t perUnit, Convert convert) {
    Out out(text.size() * perUnit, typename Out::value_type());
    int32_t length = 0;
    UErrorCode status = U_ZERO_ERROR;
    convert(out.data(), int32_t(out.size()), &length, text.data(), int32_t(text.size()), 0xFFFD, nullptr, &status);
    if (U_FAILURE(status)) return {};
    out.resize(size_t(length));
    return out;
}

} // namespace

// Never more UTF-16 units than UTF-8 bytes.
std::u16string fromUtf8(std::string_view text) { return converted<std::u16string>(text, 1, u_strFromUTF8WithSub); }

// Never more than three bytes for each UTF-16 unit.
std::string toUtf8(std::u16string_view text) { return converted<std::string>(text, 3, u_strToUTF8WithSub); }

std::optional<std::string> formatDate(const UDateFormat* format, Date date) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(date.time_since_epoch()).count();
    auto text = written([format, ms](UChar* buffer, int32_t capacity, UErrorCode* error) {
        return udat_format(format, UDate(ms), buffer, capacity, nullptr, error);
    });
    if (!text) return std::nullopt;
    return toUtf8(*text);
}

} // namespace vessora::Icu
