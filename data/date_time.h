#pragma once
// Local wall-clock time as the call log shows it. The engine takes its times
// from an injected clock; localNow is the production source.

#include <chrono>
#include <cstdint>
#include <string>

namespace tellmaro::data {

using LocalTime = std::chrono::local_time<std::chrono::milliseconds>;

// German general date: "03.12.2001 14:05:33".
std::string dateTimeText(LocalTime time);

// Durations count the second boundaries crossed, not elapsed time:
// 10:00:00.900 to 10:00:01.100 is 1, 10:00:01.000 to 10:00:01.999 is 0.
// Negative when `to` lies before `from`.
int64_t secondBoundariesBetween(LocalTime from, LocalTime to);

// The system clock as local wall time (time zone and daylight saving of the
// process, via localtime_r).
LocalTime localNow();

}  // namespace tellmaro::data
