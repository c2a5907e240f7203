#include "support/Date.h"

#include <ctime>

namespace vessora::Dates {

std::string iso8601(Date date) {
    auto seconds = std::chrono::floor<std::chrono::seconds>(date).time_since_epoch().count();
    std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buffer[32];
    std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return buffer;
}

Date fromTimespec(long seconds, long nanoseconds) {
    return Date(std::chrono::duration_cast<Date::duration>(std::chrono::seconds(seconds) +
                                                           std::chrono::nanoseconds(nanoseconds)));
}

} // namespace vessora::Dates
