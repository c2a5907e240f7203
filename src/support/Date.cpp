#include "support/Date.h"

#include <ctime>

namespace vessora::Dates {

std::string iso8601(Date date) {
    auto seconds = std::chrono::floor<std::chrono::seconds>(date).time_since_epoch().count();
    std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    char buffer[64];
    if (!gmtime_r(&t, &tm) || std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%SZ", &tm) == 0) return {};
    return buffer;
}

namespace {
using Ticks = Date::duration::rep;
constexpr Ticks ticksPerSecond = Date::period::den / Date::period::num;
static_assert(Date::period::num == 1 && ticksPerSecond >= 1 && ticksPerSecond <= 1'000'000'000);

// The clock's ticks for seconds + nanoseconds, or false when they overflow.
bool toTicks(long seconds, long nanoseconds, Ticks& ticks) {
    // Normalise first so an out-of-range nanosecond field cannot overflow on its own.
    long long carry = nanoseconds / 1'000'000'000L;
    long long rest = nanoseconds % 1'000'000'000L;
    long long whole;
    if (__builtin_add_overflow(static_cast<long long>(seconds), carry, &whole)) return false;
    Ticks scaled;
    if (__builtin_mul_overflow(static_cast<Ticks>(whole), ticksPerSecond, &scaled)) return false;
    Ticks fraction = static_cast<Ticks>(rest / (1'000'000'000L / ticksPerSecond));
    return !__builtin_add_overflow(scaled, fraction, &ticks);
}
} // namespace

std::optional<Date> checkedFromTimespec(long seconds, long nanoseconds) {
    Ticks ticks;
    if (!toTicks(seconds, nanoseconds, ticks)) return std::nullopt;
    return Date(Date::duration(ticks));
}

Date fromTimespec(long seconds, long nanoseconds) {
    if (auto date = checkedFromTimespec(seconds, nanoseconds)) return *date;
    return (seconds < 0 || (seconds == 0 && nanoseconds < 0)) ? Date::min() : Date::max();
}

} // namespace vessora::Dates
