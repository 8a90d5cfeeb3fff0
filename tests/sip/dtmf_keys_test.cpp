// DTMF keys: RFC 4733 presses, INFO bodies, one key however many ways it came.

#include <gtest/gtest.h>

#include "exchange/sip/dtmf_keys.h"

namespace tellmaro::sip {
namespace {

using std::chrono::milliseconds;
const KeyClock::time_point t0{};

std::vector<uint8_t> event(uint8_t code, bool end) {
    return {code, static_cast<uint8_t>(end ? 0x8A : 0x0A), 0x01, 0x40};
}

TEST(TelephoneEvents, OnePressOnceWithItsEndRetransmissions) {
    TelephoneEvents events;
    std::string keys;
    auto feed = [&](uint32_t ts, uint8_t code, bool end, KeyClock::time_point at) {
        if (auto key = events.accept(ts, event(code, end), at)) {
            keys += *key;
        }
    };
    for (int i = 0; i < 7; ++i) {
        feed(1000, 5, false, t0 + milliseconds(20 * i));
    }
    for (int i = 0; i < 3; ++i) {
        feed(1000, 5, true, t0 + milliseconds(140 + 20 * i));
    }
    feed(2000, 5, false, t0 + milliseconds(400));    // the same key pressed again
    feed(3000, 11, true, t0 + milliseconds(600));    // only the end packets came
    feed(3000, 11, true, t0 + milliseconds(2000));   // a replayed capture: a new press
    feed(4000, 17, false, t0 + milliseconds(2500));  // not a key
    EXPECT_EQ(keys, "55##");
    EXPECT_FALSE(events.accept(1, std::vector<uint8_t>{5, 0}, t0));  // too short
}

TEST(KeyOfInfo, Bodies) {
    struct Row {
        const char* type;
        const char* body;
        std::optional<char> key;
    };
    const Row rows[] = {
        {"application/dtmf-relay", "Signal=5\r\nDuration=160\r\n", '5'},
        {"application/dtmf-relay", "Signal= *\nDuration=100", '*'},
        {"Application/DTMF-Relay", "signal=11\r\n", '#'},
        {"application/dtmf-relay", "Duration=160\r\n", std::nullopt},
        {"application/dtmf", "9", '9'},
        {"application/dtmf", "d\r\n", 'D'},
        {"application/dtmf", "55", std::nullopt},
        {"text/plain", "Signal=5", std::nullopt},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(keyOfInfo(row.type, row.body), row.key) << row.type << " " << row.body;
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
