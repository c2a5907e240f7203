#include "support/Icu.h"

#include <unicode/ustring.h>

namespace vessora::Icu {

std::u16string fromUtf8(std::string_view text) {
    // Never more UTF-16 units than UTF-8 bytes.
    std::u16string out(text.size(), u'\0');
    int32_t length = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strFromUTF8WithSub(out.data(), int32_t(out.size()), &length, text.data(), int32_t(text.size()), 0xFFFD, nullptr,
                         &status);
    if (U_FAILURE(status)) return {};
    out.resize(size_t(length));
    return out;
}

std::string toUtf8(std::u16string_view text) {
    // Never more than three bytes for each UTF-16 unit.
    std::string out(text.size() * 3, '\0');
    int32_t length = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strToUTF8WithSub(out.data(), int32_t(out.size()), &length, text.data(), int32_t(text.size()), 0xFFFD, nullptr,
                       &status);
    if (U_FAILURE(status)) return {};
    out.resize(size_t(length));
    return out;
}

} // namespace vessora::Icu
