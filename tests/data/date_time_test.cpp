#include "data/date_time.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <tuple>

namespace tellmaro::data {
namespace {

using namespace std::chrono;

LocalTime at(int y, unsigned mo, unsigned d, int h, int mi, int s, int ms = 0) {
    return local_days{year{y} / mo / d} + hours{h} + minutes{mi} + seconds{s} + milliseconds{ms};
}

TEST(DateTime, TextIsTheGermanDateWithWholeSeconds) {
    EXPECT_EQ("03.12.2001 14:05:33", dateTimeText(at(2001, 12, 3, 14, 5, 33, 999)));
    EXPECT_EQ("29.02.2024 00:00:00", dateTimeText(at(2024, 2, 29, 0, 0, 0)));
    EXPECT_EQ("31.12.1969 23:59:59", dateTimeText(at(1969, 12, 31, 23, 59, 59, 999)));
}

TEST(DateTime, DurationsCountSecondBoundaries) {
    const std::tuple<LocalTime, LocalTime, int64_t> cases[] = {
        {at(2001, 12, 3, 10, 0, 0, 900), at(2001, 12, 3, 10, 0, 1, 100), 1},
        {at(2001, 12, 3, 10, 0, 1, 0), at(2001, 12, 3, 10, 0, 1, 999), 0},
        {at(2001, 12, 3, 10, 0, 0, 999), at(2001, 12, 3, 10, 1, 0, 0), 60},
        {at(2001, 12, 31, 23, 59, 59, 500), at(2002, 1, 1, 0, 0, 0, 200), 1},
        {at(1969, 12, 31, 23, 59, 59, 900), at(1970, 1, 1, 0, 0, 0, 100), 1},
        {at(2001, 12, 3, 10, 0, 1, 100), at(2001, 12, 3, 10, 0, 0, 900), -1},
    };
    for (const auto& [from, to, seconds] : cases) {
        EXPECT_EQ(seconds, secondBoundariesBetween(from, to))
            << dateTimeText(from) << " to " << dateTimeText(to);
    }
}

// A zone off UTC by half an hour, so that UTC or a whole-hour offset shows.
TEST(DateTime, LocalNowShowsTheSystemsLocalTime) {
    setenv("TZ", "Asia/Kolkata", 1);
    tzset();
    auto systemText = [](std::time_t t) {
        std::tm parts{};
        char text[32];
        std::strftime(text, sizeof text, "%d.%m.%Y %H:%M:%S", localtime_r(&t, &parts));
        return std::string(text);
    };
    const std::string before = systemText(std::time(nullptr)), now = dateTimeText(localNow());
    EXPECT_TRUE(now == before || now == systemText(std::time(nullptr))) << now;
    unsetenv("TZ");
    tzset();
}

}  // namespace
}  // namespace tellmaro::data
