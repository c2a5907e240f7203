#pragma once
#include <chrono>
#include <optional>
#include <string>

namespace vessora {

// A moment in time, as the engines pass it around.
using Date = std::chrono::system_clock::time_point;

namespace Dates {
// "2023-03-08T20:26:40Z": UTC, whole seconds, for machine-readable output.
std::string iso8601(Date date);
// Seconds since 1970 as a Date (keeps sub-second precision of a timespec).
// The clock counts nanoseconds in 64 bits, so it spans only the years
// 1678-2262, while a file's times can be set to anything: moments outside
// that span are clamped to its ends rather than overflowing.
Date fromTimespec(long seconds, long nanoseconds = 0);
// The same, but nothing for a moment the clock cannot hold.
std::optional<Date> checkedFromTimespec(long seconds, long nanoseconds = 0);
} // namespace Dates

} // namespace vessora
