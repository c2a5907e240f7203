#include "support/NameOrder.h"

#include "support/Icu.h"

#include <unicode/ucol.h>
#include <unicode/uloc.h>

#include <map>

namespace vessora::NameOrder {
namespace {

using Collator = Icu::Owned<UCollator, ucol_close>;

Collator makeCollator(const std::string& localeName) {
    // No locale ID is ICU's default locale; the empty one is the root locale.
    const char* locale = localeName.empty() ? nullptr : localeName.c_str();
    // The POSIX locale (LANG=C) tailors ASCII into code-point order, which
    // would put every lower-case name after all upper-case ones.
    char variant[ULOC_FULLNAME_CAPACITY];
    UErrorCode status = U_ZERO_ERROR;
    const int32_t length = uloc_getVariant(locale, variant, sizeof variant, &status);
    if (U_SUCCESS(status) && std::string_view(variant, size_t(length)) == "POSIX") locale = "";
    status = U_ZERO_ERROR;
    Collator collator(ucol_open(locale, &status));
    if (U_FAILURE(status) || !collator) {
        status = U_ZERO_ERROR;
        collator.reset(ucol_open("", &status));
        if (U_FAILURE(status) || !collator) return nullptr;
    }
    ucol_setAttribute(collator.get(), UCOL_STRENGTH, UCOL_TERTIARY, &status);
    ucol_setAttribute(collator.get(), UCOL_NUMERIC_COLLATION, UCOL_ON, &status);
    ucol_setAttribute(collator.get(), UCOL_CASE_LEVEL, UCOL_ON, &status);
    ucol_setAttribute(collator.get(), UCOL_ALTERNATE_HANDLING, UCOL_NON_IGNORABLE, &status);
    ucol_setAttribute(collator.get(), UCOL_NORMALIZATION_MODE, UCOL_ON, &status);
    return U_SUCCESS(status) ? std::move(collator) : nullptr;
}

// One collator per thread and locale: sorting runs on worker threads as well
// as the main thread, and a per-thread instance needs no lock.
const UCollator* collatorFor(const std::string& localeName) {
    thread_local std::map<std::string, Collator> collators;
    auto it = collators.find(localeName);
    if (it == collators.end()) it = collators.emplace(localeName, makeCollator(localeName)).first;
    return it->second.get();
}

int byteOrder(std::string_view a, std::string_view b) {
    int c = a.compare(b);
    return c < 0 ? -1 : c > 0 ? 1 : 0;
}

} // namespace

int compare(std::string_view a, std::string_view b, const std::string& locale) {
    if (a == b) return 0;
    if (const UCollator* collator = collatorFor(locale)) {
        // Bytes that are not UTF-8 become U+FFFD here; the byte comparison
        // below still tells such names apart.
        UErrorCode status = U_ZERO_ERROR;
        UCollationResult r =
            ucol_strcollUTF8(collator, a.data(), int32_t(a.size()), b.data(), int32_t(b.size()), &status);
        if (U_SUCCESS(status) && r != UCOL_EQUAL) return r == UCOL_LESS ? -1 : 1;
    }
    return byteOrder(a, b);
}

int compare(std::string_view a, std::string_view b) { return compare(a, b, {}); }

bool less(std::string_view a, std::string_view b) { return compare(a, b) < 0; }

} // namespace vessora::NameOrder
