#pragma once
// The one way every screen, message and command formats sizes, counts and dates.

#include "support/Date.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vessora::Fmt {

// Decimal byte counts in KB, MB, GB or TB ("Zero KB" below 1 byte), in the
// current locale.
std::string bytes(int64_t n);
// The same in a named ICU locale ("de_DE"), for callers that must not depend on
// the environment.
std::string bytes(int64_t n, const std::string& locale);

// The integer with the locale's digit grouping.
std::string count(int64_t n);
std::string count(int64_t n, const std::string& locale);

// A count with its noun, singular only for exactly one: "1 item", "0 items",
// "1,234 items". Every counted noun on screen, in alerts and in the
// command-line tool is written through these, never by appending an "s".
std::string counted(int64_t n, std::string_view singular);                          // regular plural: + "s"
std::string counted(int64_t n, std::string_view singular, std::string_view plural); // "category", "categories"
// The form of a word that agrees with a count: agree(1, "needs", "need") is
// "needs", agree(3, "was", "were") is "were".
std::string_view agree(int64_t n, std::string_view one, std::string_view other);

// "2 hours ago", "in 3 days"; "unknown" when absent.
std::string relativeDate(std::optional<Date> date);
std::string relativeDate(std::optional<Date> date, Date now, const std::string& locale);

// A moment in local time, date and time of day: "May 3, 2026, 2:02 PM".
std::string dateTime(Date date);
std::string dateTime(Date date, const std::string& locale);

} // namespace vessora::Fmt
