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

using exchange::PartyBehaviour;
using relay::CallPhase;

constexpr milliseconds kSweep = 40ms;

struct Call {
    explicit Call(bool totalDisconnect, milliseconds answerAfter = 1s)
        : h(options(totalDisconnect)) {
        mobile = h.addParty(kMobile);
        PartyBehaviour behaviour;
        behaviour.answerAfter = answerAfter;
        target = h.addParty(kTarget, behaviour);
        h.startUp();
        h.line.callPcAt(h.now() + 1s, mobile);
        EXPECT_TRUE(reachPhase(h, CallPhase::Dialogue));
        // "#" cancels once "*" has confirmed.
        h.line.pressKeysNow(mobile, "0301234567*");
    }
    static HarnessOptions options(bool totalDisconnect) {
        HarnessOptions o;
        o.settings.starConfirms = true;
        o.settings.totalDisconnect = totalDisconnect;
        return o;
    }
    // The mobile caller hangs up; the call must end with a clean line.
    void endsClean() {
        h.line.hangUpNow(mobile);
        h.runFor(3s);
        EXPECT_EQ(h.phase(), CallPhase::Idle);
        EXPECT_EQ(h.shell.trays.back(), "Tellmaro ist betriebsbereit");
        EXPECT_TRUE(h.errorLogText().empty()) << h.errorLogText();
        EXPECT_LINE_SETTLED(h);
    }

    EngineHarness h;
    exchange::PartyId mobile = 0;
    exchange::PartyId target = 0;
};

// The cancel key and the called party's answer: a call being released is
// not taken up, and no B3 connection is opened on it.
TEST(Crossing, CancelAndTheAnswer) {
    for (milliseconds before = 0ms; before <= kSweep; before += 2ms) {
        SCOPED_TRACE("cancel " + std::to_string(before.count()) + " ms before the answer");
        Call c(false, 500ms);
        ASSERT_TRUE(reachPhase(c.h, CallPhase::DialConfirmed));
        // Ringing began within one tick before phase 8 was reached.
        c.h.line.pressKeysAt(c.h.now() + 500ms - before, c.mobile, "#");
        c.h.runFor(1s);
        EXPECT_EQ(c.h.phase(), CallPhase::Dialogue);
        c.endsClean();
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
            Call c(total);
            ASSERT_TRUE(reachPhase(c.h, CallPhase::Relaying));
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
        Call c(false);
        ASSERT_TRUE(reachPhase(c.h, CallPhase::Relaying));
        c.h.runFor(1s + offset);
        c.h.line.hangUpNow(c.mobile);
        c.h.scripted.shortenNextDataB3Ind(100);
        c.h.runFor(3s);
        EXPECT_EQ(c.h.phase(), CallPhase::Idle);
        EXPECT_LINE_SETTLED(c.h);
    }
}

}  // namespace
}  // namespace tellmaro::test
