#include "data/date_time.h"

#include <cstdio>
#include <ctime>

namespace tellmaro::data {

using namespace std::chrono;

std::string dateTimeText(LocalTime time) {
    const auto day = floor<days>(time);
    const year_month_day date{day};
    const hh_mm_ss clock{floor<seconds>(time - day)};
    char text[64];
    std::snprintf(text, sizeof text, "%02u.%02u.%04d %02d:%02d:%02d",
                  static_cast<unsigned>(date.day()), static_cast<unsigned>(date.month()),
                  static_cast<int>(date.year()), static_cast<int>(clock.hours().count()),
                  static_cast<int>(clock.minutes().count()),
                  static_cast<int>(clock.seconds().count()));
    return text;
}

int64_t secondBoundariesBetween(LocalTime from, LocalTime to) {
    return (floor<seconds>(to) - floor<seconds>(from)).count();
}

LocalTime localNow() {
    const auto now = floor<milliseconds>(system_clock::now());
    const auto wholeSeconds = floor<seconds>(now);
    const std::time_t epochSeconds = system_clock::to_time_t(wholeSeconds);
    std::tm parts{};
    if (localtime_r(&epochSeconds, &parts) == nullptr) {
        // Out of the C library's range; UTC is the best remaining guess.
        return LocalTime{now.time_since_epoch()};
    }
    const local_days day{year{parts.tm_year + 1900} /
                         month{static_cast<unsigned>(parts.tm_mon + 1)} /
                         static_cast<unsigned>(parts.tm_mday)};
    return day + hours{parts.tm_hour} + minutes{parts.tm_min} + seconds{parts.tm_sec} +
           (now - wholeSeconds);
}

}  // namespace tellmaro::data
