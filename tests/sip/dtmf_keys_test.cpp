// DTMF keys: RFC 4733 presses, INFO bodies, one key however many ways it came.

#include <gtest/gtest.h>

#include "exchange/sip/dtmf_keys.h"

namespace tellmaro::sip {
namespace {

using std::chrono::milliseconds;
const KeyClock::time_point t0{};

TEST(TelephoneEvents, OnePressOnceWithItsEndRetransmissions) {
    TelephoneEvents events;
    std::string keys;
    auto feed = [&](uint32_t ts, uint8_t code, bool end, KeyClock::time_point at) {
        const std::vector<uint8_t> event = {code, static_cast<uint8_t>(end ? 0x8A : 0x0A), 1, 0x40};
        if (auto key = events.accept(ts, event, at)) {
            keys += *key;
        }
    };
    for (int i = 0; i < 10; ++i) {
        feed(1000, 5, i >= 7, t0 + milliseconds(20 * i));  // the end packet three times
    }
    feed(2000, 5, false, t0 + milliseconds(400));    // the same key pressed again
    feed(3000, 11, true, t0 + milliseconds(600));    // only the end packets came
    feed(3000, 11, true, t0 + milliseconds(2000));   // a replayed capture: a new press
    feed(4000, 17, false, t0 + milliseconds(2500));  // not a key
    EXPECT_EQ(keys, "55##");
    EXPECT_FALSE(events.accept(1, std::vector<uint8_t>{5, 0}, t0));  // too short
}

TEST(KeyOfInfo, Bodies) {
    const std::tuple<const char*, const char*, std::optional<char>> rows[] = {
        {"application/dtmf-relay", "Signal=5\r\nDuration=160\r\n", '5'},
        {"application/dtmf-relay", "Signal= *\nDuration=100", '*'},
        {"Application/DTMF-Relay", "signal=11\r\n", '#'},
        {"application/dtmf-relay", "Duration=160\r\n", std::nullopt},
        {"application/dtmf", "9", '9'},
        {"application/dtmf", "d\r\n", 'D'},
        {"application/dtmf", "55", std::nullopt},
        {"text/plain", "Signal=5", std::nullopt},
    };
    for (const auto& [type, body, key] : rows) {
        EXPECT_EQ(keyOfInfo(type, body), key) << type << " " << body;
    }
}

TEST(KeyDeduplicator, OnePressByTwoWaysCountsOnce) {
    KeyDeduplicator keys;
    EXPECT_TRUE(keys.accept('4', KeySource::Info, t0));
    EXPECT_FALSE(keys.accept('4', KeySource::Rfc4733, t0 + milliseconds(60)));
    EXPECT_FALSE(keys.accept('4', KeySource::InBand, t0 + milliseconds(90)));
    // The same way twice is two presses; the next press's echo is matched again.
    EXPECT_TRUE(keys.accept('4', KeySource::Info, t0 + milliseconds(300)));
    EXPECT_FALSE(keys.accept('4', KeySource::Rfc4733, t0 + milliseconds(350)));
    EXPECT_TRUE(keys.accept('7', KeySource::Rfc4733, t0 + milliseconds(400)));
    EXPECT_TRUE(keys.accept('7', KeySource::Info,
                            t0 + milliseconds(400) + KeyDeduplicator::kWindow + milliseconds(1)));
}

}  // namespace
}  // namespace tellmaro::sip
