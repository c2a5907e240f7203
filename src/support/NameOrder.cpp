#include "support/NameOrder.h"

#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>

#include <map>
#include <memory>

namespace vessora::NameOrder {
namespace {

std::unique_ptr<icu::Collator> makeCollator(const std::string& localeName) {
    icu::Locale locale = localeName.empty() ? icu::Locale::getDefault() : icu::Locale(localeName.c_str());
    // The POSIX locale (LANG=C) tailors ASCII into code-point order, which
    // would put every lower-case name after all upper-case ones.
    if (std::string_view(locale.getVariant()) == "POSIX") locale = icu::Locale::getRoot();
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::Collator> collator(icu::Collator::createInstance(locale, status));
    if (U_FAILURE(status) || !collator) {
        status = U_ZERO_ERROR;
        collator.reset(icu::Collator::createInstance(icu::Locale::getRoot(), status));
        if (U_FAILURE(status)) return nullptr;
    }
    collator->setStrength(icu::Collator::TERTIARY);
    collator->setAttribute(UCOL_NUMERIC_COLLATION, UCOL_ON, status);
    collator->setAttribute(UCOL_CASE_LEVEL, UCOL_ON, status);
    collator->setAttribute(UCOL_ALTERNATE_HANDLING, UCOL_NON_IGNORABLE, status);
    collator->setAttribute(UCOL_NORMALIZATION_MODE, UCOL_ON, status);
    return U_SUCCESS(status) ? std::move(collator) : nullptr;
}

// One collator per thread and locale: sorting runs on worker threads as well
// as the main thread, and a per-thread instance needs no lock.
const icu::Collator* collatorFor(const std::string& localeName) {
    thread_local std::map<std::string, std::unique_ptr<icu::Collator>> collators;
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
    if (const icu::Collator* collator = collatorFor(locale)) {
        // Bytes that are not UTF-8 become U+FFFD here; the byte comparison
        // below still tells such names apart.
        UErrorCode status = U_ZERO_ERROR;
        UCollationResult r = collator->compareUTF8(icu::StringPiece(a.data(), int32_t(a.size())),
                                                   icu::StringPiece(b.data(), int32_t(b.size())), status);
        if (U_SUCCESS(status) && r != UCOL_EQUAL) return r == UCOL_LESS ? -1 : 1;
    }
    return byteOrder(a, b);
}

int compare(std::string_view a, std::string_view b) { return compare(a, b, {}); }

bool less(std::string_view a, std::string_view b) { return compare(a, b) < 0; }

} // namespace vessora::NameOrder
