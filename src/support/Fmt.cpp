#include "support/Fmt.h"

#include <unicode/calendar.h>
#include <unicode/datefmt.h>
#include <unicode/locid.h>
#include <unicode/numberformatter.h>
#include <unicode/reldatefmt.h>

#include <memory>

namespace vessora::Fmt {
namespace {

using namespace icu::number;

icu::Locale localeNamed(const std::string& name) {
    return name.empty() ? icu::Locale::getDefault() : icu::Locale(name.c_str());
}

std::string utf8(const icu::UnicodeString& s) {
    std::string out;
    s.toUTF8String(out);
    return out;
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
        int fraction;
        const char* label;
    };
    static constexpr Unit units[] = {
        {999'499ULL, 3, 0, "KB"},
        {999'949'999ULL, 6, 1, "MB"},
        {999'994'999'999ULL, 9, 2, "GB"},
        {UINT64_MAX, 12, 2, "TB"},
    };
    const uint64_t value = uint64_t(n);
    const Unit* unit = &units[3];
    for (const auto& u : units)
        if (value < u.below) {
            unit = &u;
            break;
        }
    UErrorCode status = U_ZERO_ERROR;
    auto formatter = NumberFormatter::withLocale(localeNamed(locale))
                         .precision(Precision::maxFraction(unit->fraction))
                         .roundingMode(UNUM_ROUND_HALFEVEN);
    std::string digits = decimalShift(value, unit->shift);
    auto formatted = formatter.formatDecimal(icu::StringPiece(digits.data(), int32_t(digits.size())), status);
    if (U_FAILURE(status)) return digits + " " + unit->label;
    return utf8(formatted.toString(status)) + " " + unit->label;
}

std::string count(int64_t n) { return count(n, {}); }

std::string count(int64_t n, const std::string& locale) {
    UErrorCode status = U_ZERO_ERROR;
    auto formatted = NumberFormatter::withLocale(localeNamed(locale)).formatInt(n, status);
    if (U_FAILURE(status)) return std::to_string(n);
    return utf8(formatted.toString(status));
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
    const icu::Locale loc = localeNamed(locale);
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::Calendar> calendar(icu::Calendar::createInstance(loc, status));
    if (U_FAILURE(status)) return "unknown";
    auto toUDate = [](Date d) {
        return UDate(std::chrono::duration_cast<std::chrono::milliseconds>(d.time_since_epoch()).count());
    };
    calendar->setTime(toUDate(now), status);
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
    // fieldDifference advances the calendar by the whole units it counted, so
    // each step measures only what the larger units left over.
    int32_t amount = 0;
    URelativeDateTimeUnit unit = UDAT_REL_UNIT_SECOND;
    for (const auto& step : steps) {
        int32_t diff = calendar->fieldDifference(target, step.field, status);
        if (U_FAILURE(status)) return "unknown";
        if (diff != 0) {
            amount = diff;
            unit = step.unit;
            break;
        }
    }
    icu::RelativeDateTimeFormatter formatter(loc, nullptr, UDAT_STYLE_LONG, UDISPCTX_CAPITALIZATION_NONE, status);
    if (U_FAILURE(status)) return "unknown";
    icu::UnicodeString text;
    formatter.formatNumeric(double(amount), unit, text, status);
    if (U_FAILURE(status)) return "unknown";
    return utf8(text);
}

std::string dateTime(Date date) { return dateTime(date, {}); }

std::string dateTime(Date date, const std::string& locale) {
    std::unique_ptr<icu::DateFormat> format(icu::DateFormat::createDateTimeInstance(
        icu::DateFormat::kMedium, icu::DateFormat::kShort, localeNamed(locale)));
    if (!format) return Dates::iso8601(date);
    icu::UnicodeString text;
    format->format(UDate(std::chrono::duration_cast<std::chrono::milliseconds>(date.time_since_epoch()).count()), text);
    return utf8(text);
}

} // namespace vessora::Fmt
