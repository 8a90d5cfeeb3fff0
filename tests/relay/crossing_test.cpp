// Messages that cross while a call is being taken down: the relay's own
// request and the far end's indication meet on the line. Each test moves the
// second event across the first in millisecond steps, so that every order
// in which the two can reach the engine is tried; whatever the order, the
// relay must send nothing into a connection that is gone or being cleared,
// end idle and ready, and leave the line clean.
#include <gtest/gtest.h>

#include "engine_harness.h"
#include "flow_checks.h"

namespace tellmaro::test {
namespace {

using relay::CallPhase;

constexpr milliseconds kSweep = 40ms;

// The cancel key and the called party's answer: a call being released is
// not taken up, and no B3 connection is opened on it.
TEST(Crossing, CancelAndTheAnswer) {
    for (milliseconds before = 0ms; before <= kSweep; before += 2ms) {
        SCOPED_TRACE("cancel " + std::to_string(before.count()) + " ms before the answer");
        MobileCall c(hashCancels(), answersAfter(500ms));
        ASSERT_TRUE(c.dial("0301234567*", CallPhase::DialConfirmed));
        // Ringing began within one tick before phase 8 was reached.
        c.h.line.pressKeysAt(c.h.now() + 500ms - before, c.mobile, "#");
        c.h.runFor(1s);
        // Back at number entry on a line seized anew.
        EXPECT_EQ(c.h.phase(), CallPhase::Dialogue);
        EXPECT_EQ(countSeizures(c.h), 2u);
        EXPECT_NE(c.h.engine.state().targetPlci, 0u);
        c.hangUpAndSettle(3s);
        EXPECT_TRUE(c.h.errorLogText().empty()) << c.h.errorLogText();
    }
}

// The mobile caller hangs up just after cancelling the conversation: the
// called party's B3 connection is cleared once, never again and never by
// address 0, and its call is released.
TEST(Crossing, CancelThenTheMobileHangsUp) {
    for (bool total : {false, true}) {
        for (milliseconds after = 0ms; after <= kSweep; after += 2ms) {
            SCOPED_TRACE(std::string(total ? "total" : "one-sided") + ", hang-up " +
                         std::to_string(after.count()) + " ms after the cancel");
            MobileCall c(hashCancels(total));
            ASSERT_TRUE(c.dial("0301234567*", CallPhase::Relaying));
            c.h.runFor(1s);
            milliseconds at = c.h.now() + 5ms;
            c.h.line.pressKeysAt(at, c.mobile, "#");
            c.h.line.hangUpAt(at + after, c.mobile);
            c.h.runFor(3s);
            EXPECT_EQ(c.h.phase(), CallPhase::Idle);
            EXPECT_LINE_SETTLED(c.h);
            for (const auto& sent : c.h.sent()) {
                EXPECT_EQ(sent.find("CI=0x00000000"), std::string::npos) << sent;
            }
        }
    }
}

// The mobile caller hangs up just as a block of the wrong size comes from
// the called party: whether it arrives before or after that leg's clearing
// began, it is answered, and a leg being cleared is not reset.
TEST(Crossing, ShortBlockAsTheMobileHangsUp) {
    // Each leg delivers a block every 256 ms; the hang-up moves across one period.
    for (milliseconds offset = 0ms; offset < 256ms; offset += 8ms) {
        SCOPED_TRACE("hang-up " + std::to_string(offset.count()) + " ms into a block period");
        MobileCall c;
        ASSERT_TRUE(c.dial("0301234567#", CallPhase::Relaying));
        c.h.runFor(1s + offset);
        c.h.line.hangUpNow(c.mobile);
        c.h.scripted.shortenNextDataB3Ind(100);
        c.h.runFor(3s);
        EXPECT_EQ(c.h.phase(), CallPhase::Idle);
        EXPECT_LINE_SETTLED(c.h);
    }
}

// The mobile caller hangs up while the call to a busy number is placed and
// as the network clears it: no call goes out for a caller who has gone, and
// once the call has ended the busy line is neither announced, nor logged,
// nor followed by a new seizure.
TEST(Crossing, MobileHangsUpAsTheBusyCallIsPlacedAndCleared) {
    exchange::PartyBehaviour busy;
    busy.onCall = exchange::PartyBehaviour::OnCall::Busy;
    // The call goes out 100 ms after phase 7 began; the network clears it
    // 100 ms later.
    for (milliseconds at = 60ms; at <= 240ms; at += 4ms) {
        SCOPED_TRACE("hang-up " + std::to_string(at.count()) + " ms into phase 7");
        MobileCall c({}, busy);
        ASSERT_TRUE(c.dial("0301234567#", CallPhase::Dialling));
        c.h.line.hangUpAt(c.h.now() + at, c.mobile);
        ASSERT_TRUE(reachPhase(c.h, CallPhase::Idle, 2s));
        size_t ended = c.h.sentMessages().size();
        c.h.runFor(2s);
        EXPECT_EQ(countSent(c.h, "CONNECT_REQ", ended), 0u);
        for (const auto& number : dialledNumbers(c.h)) {
            EXPECT_EQ(number, "03012345670000000000");
        }
        std::string log = c.h.callLogText();
        size_t lastLine = log.rfind("\r\n", log.size() - 3) + 2;
        EXPECT_TRUE(log.substr(lastLine).starts_with("Verbindungsdauer")) << log;
        EXPECT_LINE_SETTLED(c.h);
    }
}

}  // namespace
}  // namespace tellmaro::test
