// The direct bridge's states, one row per transition, calls 1 and 2.

#include <gtest/gtest.h>

#include <sstream>

#include "exchange/sip/direct_bridge.h"

namespace tellmaro::sip {
namespace {

using State = DirectBridge::State;

Block numbered(int n, bool oneByteOff) {
    Block block;
    block.fill(static_cast<uint8_t>(n));
    block[100] ^= oneByteOff ? 1 : 0;
    return block;
}

// Steps: "L12" both calls talk with the relay's media, "L12h" call 2 on
// hold, "L1" only call 1 has it; "p1:600" call 1 received 600 bytes; "i1:7"
// call 1 handed block 7 to the relay ("i1:7*8": blocks 7 to 14); "r2:7" the
// relay sends block 7 on call 2, "r2:7x" with one byte off.
struct Driver {
    explicit Driver(bool enabled) : bridge(enabled, {}) {}
    DirectBridge bridge;
    size_t offset[3] = {};
    DirectBridge::Play play;
    CallId passedTo = 0;

    void run(const std::string& steps) {
        std::istringstream words(steps);
        for (std::string w; words >> w;) {
            CallId call = static_cast<CallId>(w[1] - '0');
            int n = w[0] == 'L' ? 0 : std::stoi(w.substr(3));
            if (w[0] == 'L') {
                std::vector<DirectBridge::Leg> legs{{1, true}};
                if (w.size() > 2) {
                    legs.push_back({2, w.size() == 3});
                }
                bridge.legsChanged(legs, w);
            } else if (w[0] == 'p') {
                std::vector<uint8_t> bytes(static_cast<size_t>(n));
                passedTo = bridge.received(call, offset[call], bytes);
                offset[call] = (offset[call] + bytes.size()) % kBlockSize;
            } else if (w[0] == 'i') {
                auto star = w.find('*');
                int count = star == std::string::npos ? 1 : std::stoi(w.substr(star + 1));
                for (int k = 0; k < count; ++k) {
                    bridge.indicated(call, numbered(n + k, false));
                }
            } else {
                play = bridge.relayBlock(call, numbered(n, w.back() == 'x'));
            }
        }
    }
};

const std::string kWatch = "L12";
const std::string kTrust = " i1:1 r2:1 i2:2 r1:2 i1:3 r2:3 i2:4 r1:4 i1:5 r2:5 i2:6 r1:6";

TEST(DirectBridge, Transitions) {
    struct Row {
        const char* name;
        std::string steps;
        State state;
        size_t playFrom;  // of the last relay block
        bool clearSending = false;
        CallId passedTo = 0;  // by the last bytes received
        bool enabled = true;
    };
    const Row rows[] = {
        {"two calls talk", "L12", State::Watching, 0},
        {"direct_bridge = no", "L12" + kTrust, State::Idle, 0, false, 0, false},
        {"a call on hold", "L12h", State::Idle, 0},
        {"trusted both ways", kWatch + kTrust, State::Bridged, kBlockSize, true},
        {"mismatch resets", "L12 i1:1 r2:1 i1:3 r2:3 r2:9 i1:5 r2:5 i2:2 r1:2 i2:4 r1:4 i2:6 r1:6",
         State::Watching, 0},
        {"a watched call ends", "L12 i1:1 r2:1 L1", State::Idle, 0},
        {"bytes pass at once", kWatch + kTrust + " p1:160", State::Bridged, kBlockSize, true, 2},
        {"the confirmation dropped", kWatch + kTrust + " p1:160 i1:7 r2:7", State::Bridged,
         kBlockSize, false, 2},
        {"one byte off: played", kWatch + kTrust + " p1:100 r2:7x", State::FallingBack, 0, false,
         2},
        {"nothing passes falling back", kWatch + kTrust + " p1:100 L12 p1:100", State::FallingBack,
         kBlockSize, true},
        {"slow relay within bound", kWatch + kTrust + " i1:7*8", State::Bridged, kBlockSize, true,
         0},
        {"slow relay beyond bound", kWatch + kTrust + " i1:7*9", State::FallingBack, kBlockSize,
         true},
        {"copies of played blocks dropped", kWatch + kTrust + " i1:7 L12 r2:7", State::Watching,
         kBlockSize},
        {"partly passed: only its rest", kWatch + kTrust + " p1:600 L12 p1:1448 i1:7 r2:7",
         State::Watching, 600},
        {"the called call hangs up", kWatch + kTrust + " p2:100 L1", State::Idle, kBlockSize, true,
         1},
        {"the bridge's partner hangs up", kWatch + kTrust + " i2:7 L1", State::FallingBack,
         kBlockSize, true},
        {"relay's copies after a hang-up", kWatch + kTrust + " i2:7 L1 r1:7", State::Idle,
         kBlockSize},
    };
    for (const auto& row : rows) {
        Driver driver(row.enabled);
        driver.run(row.steps);
        EXPECT_EQ(stateName(driver.bridge.state()), std::string(stateName(row.state))) << row.name;
        EXPECT_EQ(driver.play.from, row.playFrom) << row.name;
        EXPECT_EQ(driver.play.clearSending, row.clearSending) << row.name;
        EXPECT_EQ(driver.passedTo, row.passedTo) << row.name;
    }
}

}  // namespace
}  // namespace tellmaro::sip
