#include "support/Fmt.h"

#include "support/Icu.h"

#include <unicode/ucal.h>
#include <unicode/udat.h>
#include <unicode/unumberformatter.h>
#include <unicode/ureldatefmt.h>

namespace vessora::Fmt {
namespace {

// ICU takes no locale ID as its default locale.
const char* localeId(const std::string& name) { return name.empty() ? nullptr : name.c_str(); }

UDate toUDate(Date date) {
    return UDate(std::chrono::duration_cast<std::chrono::milliseconds>(date.time_since_epoch()).count());
}

// A number written by ICU's number formatter of the given skeleton; nothing
// when ICU fails.
template <class Format>
std::optional<std::string> formatNumber(std::u16string_view skeleton, const std::string& locale, Format format) {
    UErrorCode status = U_ZERO_ERROR;
    Icu::Owned<UNumberFormatter, unumf_close> formatter(
        unumf_openForSkeletonAndLocale(skeleton.data(), int32_t(skeleton.size()), localeId(locale), &status));
    Icu::Owned<UFormattedNumber, unumf_closeResult> result(unumf_openResult(&status));
    if (U_FAILURE(status)) return std::nullopt;
    format(formatter.get(), result.get(), &status);
    if (U_FAILURE(status)) return std::nullopt;
    auto text = Icu::written([&result](UChar* buffer, int32_t capacity, UErrorCode* error) {
        return unumf_resultToString(result.get(), buffer, capacity, error);
    });
    if (!text) return std::nullopt;
    return Icu::toUtf8(*text);
}

// n / 10^shift as an exact decimal string, so rounding happens once, in ICU,
// on the true value rather than on a binary approximation.
std::string decimalShift(uint64_t n, int shift) {
    std::string digits = std::to_string(n);
    if (shift == 0) return digits;
    if (int(digits.size()) <= shift) digits.insert(0, size_t(shift) + 1 - digits.size(), '0');
    digits.insert(digits.size() - size_t(shift), 1, '.');
    return digits;
}

} // namespace

std::string bytes(int64_t n) { return bytes(n, {}); }

std::string bytes(int64_t n, const std::string& locale) {
    if (n < 1) return "Zero KB";
    struct Unit {
        uint64_t below;
        int shift;
        // At most 0, 1 or 2 decimals.
        std::u16string_view skeleton;
        const char* label;
    };
    static constexpr Unit units[] = {
        {999'499ULL, 3, u"precision-integer rounding-mode-half-even", "KB"},
        {999'949'999ULL, 6, u".# rounding-mode-half-even", "MB"},
        {999'994'999'999ULL, 9, u".## rounding-mode-half-even", "GB"},
        {UINT64_MAX, 12, u".## rounding-mode-half-even", "TB"},
    };
    const uint64_t value = uint64_t(n);
    const Unit* unit = &units[3];
    for (const auto& u : units)
        if (value < u.below) {
            unit = &u;
            break;
        }
    const std::string digits = decimalShift(value, unit->shift);
    auto text = formatNumber(unit->skeleton, locale, [&digits](auto* formatter, auto* result, UErrorCode* status) {
        unumf_formatDecimal(formatter, digits.data(), int32_t(digits.size()), result, status);
    });
    return (text ? *text : digits) + " " + unit->label;
}

std::string count(int64_t n) { return count(n, {}); }

std::string count(int64_t n, const std::string& locale) {
    auto text = formatNumber(u"", locale, [n](auto* formatter, auto* result, UErrorCode* status) {
        unumf_formatInt(formatter, n, result, status);
    });
    return text ? *text : std::to_string(n);
}

std::string_view agree(int64_t n, std::string_view one, std::string_view other) { return n == 1 ? one : other; }

std::string counted(int64_t n, std::string_view singular) {
    std::string text = count(n) + " ";
    text += singular;
    if (n != 1) text += 's';
    return text;
}

std::string counted(int64_t n, std::string_view singular, std::string_view plural) {
    std::string text = count(n) + " ";
    text += agree(n, singular, plural);
    return text;
}

std::string relativeDate(std::optional<Date> date) { return relativeDate(date, std::chrono::system_clock::now(), {}); }

std::string relativeDate(std::optional<Date> date, Date now, const std::string& locale) {
    if (!date) return "unknown";
    UErrorCode status = U_ZERO_ERROR;
    // In the default time zone.
    Icu::Owned<UCalendar, ucal_close> calendar(ucal_open(nullptr, 0, localeId(locale), UCAL_DEFAULT, &status));
    if (U_FAILURE(status)) return "unknown";
    ucal_setMillis(calendar.get(), toUDate(now), &status);
    const UDate target = toUDate(*date);

    struct Step {
        UCalendarDateFields field;
        URelativeDateTimeUnit unit;
    };
    static constexpr Step steps[] = {
        {UCAL_YEAR, UDAT_REL_UNIT_YEAR},         {UCAL_MONTH, UDAT_REL_UNIT_MONTH},
        {UCAL_WEEK_OF_YEAR, UDAT_REL_UNIT_WEEK}, {UCAL_DATE, UDAT_REL_UNIT_DAY},
        {UCAL_HOUR_OF_DAY, UDAT_REL_UNIT_HOUR},  {UCAL_MINUTE, UDAT_REL_UNIT_MINUTE},
        {UCAL_SECOND, UDAT_REL_UNIT_SECOND},
    };
    // Each field difference advances the calendar by the whole units it
    // counted, so each step measures only what the larger units left over.
    int32_t amount = 0;
    URelativeDateTimeUnit unit = UDAT_REL_UNIT_SECOND;
    for (const auto& step : steps) {
        int32_t diff = ucal_getFieldDifference(calendar.get(), target, step.field, &status);
        if (U_FAILURE(status)) return "unknown";
        if (diff != 0) {
            amount = diff;
            unit = step.unit;
            break;
        }
    }
    Icu::Owned<URelativeDateTimeFormatter, ureldatefmt_close> formatter(
        ureldatefmt_open(localeId(locale), nullptr, UDAT_STYLE_LONG, UDISPCTX_CAPITALIZATION_NONE, &status));
    if (U_FAILURE(status)) return "unknown";
    auto text = Icu::written([&](UChar* buffer, int32_t capacity, UErrorCode* error) {
        return ureldatefmt_formatNumeric(formatter.get(), double(amount), unit, buffer, capacity, error);
    });
    return text ? Icu::toUtf8(*text) : "unknown";
}

std::string dateTime(Date date) { return dateTime(date, {}); }

std::string dateTime(Date date, const std::string& locale) {
    UErrorCode status = U_ZERO_ERROR;
    // Medium date, short time of day, in the default time zone.
    Icu::Owned<UDateFormat, udat_close> format(
        udat_open(UDAT_SHORT, UDAT_MEDIUM, localeId(locale), nullptr, -1, nullptr, -1, &status));
    if (U_FAILURE(status)) return Dates::iso8601(date);
    std::optional<std::string> text = Icu::formatDate(format.get(), date);
    return text ? std::move(*text) : Dates::iso8601(date);
}

} // namespace vessora::Fmt
