// Sizes, counts and dates as shown to the user: any number and any moment,
// including times far outside what the clock holds (a file's time can be set
// to anything), formats to some text without overflow, and the clamped
// conversion agrees with the checked one wherever the checked one succeeds.

#include "FuzzCheck.h"
#include "support/Date.h"
#include "support/Fmt.h"

#include <ctime>

using namespace vessora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view in = fuzz::text(data, size);
    const auto number = fuzz::take<int64_t>(in);
    const auto seconds = fuzz::take<long>(in);
    const auto nanoseconds = fuzz::take<long>(in);
    const auto nowSeconds = fuzz::take<long>(in);
    static const char* const locales[] = {"en_US", "de_DE", "fr_FR", "ar_EG", "ja_JP", "hi_IN"};
    const std::string locale = locales[fuzz::take<uint8_t>(in) % 6];

    FUZZ_CHECK(!Fmt::bytes(number, locale).empty());
    FUZZ_CHECK(!Fmt::count(number, locale).empty());

    const Date date = Dates::fromTimespec(seconds, nanoseconds);
    if (auto checked = Dates::checkedFromTimespec(seconds, nanoseconds)) {
        FUZZ_CHECK(*checked == date);
        // Whole seconds survive the way out as text (gmtime covers the clock's span).
        if (nanoseconds == 0) {
            const std::string iso = Dates::iso8601(date);
            std::tm tm{};
            FUZZ_CHECK(strptime(iso.c_str(), "%Y-%m-%dT%H:%M:%SZ", &tm) != nullptr);
            FUZZ_CHECK(long(timegm(&tm)) == seconds);
        }
    } else {
        FUZZ_CHECK(date == Date::min() || date == Date::max());
    }
    FUZZ_CHECK(!Fmt::relativeDate(date, Dates::fromTimespec(nowSeconds), locale).empty());
    return 0;
}
