// The cancel key after a number was confirmed, in each phase of the
// outgoing call: the attempt ends, the line is seized again and the mobile
// caller can dial anew (or, in the relay under total disconnect, the call ends).
#include <gtest/gtest.h>

#include "engine_harness.h"
#include "flow_checks.h"

namespace tellmaro::test {
namespace {

using exchange::PartyEvent;
using relay::CallPhase;
using relay::TimerId;
using Names = std::vector<std::string>;

constexpr const char* kCancelled = "   Abbruch, Grund      : Abbruch durch den Handybenutzer\r\n";

// The mobile caller at number entry; the called party answers after
// `answerAfter`. With star confirming, "#" cancels.
struct CancelledCall : MobileCall {
    explicit CancelledCall(milliseconds answerAfter, bool totalDisconnect = false)
        : MobileCall(hashCancels(totalDisconnect), answersAfter(answerAfter)) {
        second = h.addParty(kSecondTarget);
        EXPECT_TRUE(reachPhase(h, CallPhase::Dialogue));
    }
    // Back at number entry on a new seizure, the dialogue reset: dial the
    // second party, talk, hang up.
    void dialAgainAndHangUp() {
        h.runFor(1s);
        EXPECT_EQ(h.phase(), CallPhase::Dialogue);
        EXPECT_EQ(countSeizures(h), 2u);
        EXPECT_EQ(h.engine.state().dialledDigitPos, 1);
        EXPECT_FALSE(h.engine.state().cancelRequested);
        EXPECT_NE(h.engine.state().targetPlci, 0u);
        keys("0402345678*");
        EXPECT_TRUE(reachPhase(h, CallPhase::Relaying));
        h.runFor(2s);
        hangUpAndSettle();
        auto heard = exchange::checkHeard(h.line.partyRecord(second), mobile);
        EXPECT_TRUE(heard.ok()) << heard.describe();
    }
    Names prompts() const { return promptNames(heardPrompts(h, mobile)); }

    exchange::PartyId second = 0;
};

// What the second attempt leaves in the log.
std::string secondAttemptLines() {
    return logDialled("0402345678") +
           "   Beginn des Gesprächs: <time>\r\n"
           "   Ende des Gesprächs  : <time>\r\n"
           "   Gesprächsdauer      : 2 s\r\n"
           "\r\n"
           "Ende der Verbindung    : <time>\r\n";
}

std::string callStart() {
    return logCallStart() + logDialled("0301234567");
}

// Phase 6: the cancel arrives while the seized line is being released;
// instead of dialling, the line is seized again.
TEST(Cancel, WhileTheSeizureIsReleased) {
    CancelledCall c(1s);
    c.keys("0301234567*");
    c.keys("#");
    ASSERT_TRUE(c.h.runUntil([&] { return c.h.engine.state().cancelRequested; }, 1s));
    EXPECT_EQ(c.h.phase(), CallPhase::NumberConfirmed);

    c.dialAgainAndHangUp();
    EXPECT_EQ(c.h.line.partyRecord(c.target).callsFromPc, 0u);
    EXPECT_TRUE(withoutTimes(c.h.callLogText()).starts_with(callStart() + kCancelled));
    EXPECT_NE(withoutTimes(c.h.callLogText()).find(secondAttemptLines()), std::string::npos);
}

// Phase 7 before the call is placed: the cancel is seen when the call
// would go out, and the line is seized again instead.
TEST(Cancel, BeforeTheCallIsPlaced) {
    CancelledCall c(1s);
    c.keys("0301234567*");
    ASSERT_TRUE(reachPhase(c.h, CallPhase::Dialling));
    c.keys("#");
    c.h.runFor(150ms);
    EXPECT_EQ(c.h.phase(), CallPhase::Dialogue);
    EXPECT_EQ(c.h.engine.state().promptFileName, "abbruch.pdt");

    c.dialAgainAndHangUp();
    EXPECT_EQ(c.h.line.partyRecord(c.target).callsFromPc, 0u);
    EXPECT_NE(withoutTimes(c.h.callLogText()).find(callStart() + kCancelled), std::string::npos);
    // The cancel notice is heard (until the next number goes through).
    EXPECT_EQ(c.prompts(), Names{"abbruch.pdt (cut)"});
}

// Phase 7 after the call went out, before its confirmation: the
// confirmation releases it and seizes the line again.
TEST(Cancel, BeforeThePlacedCallIsConfirmed) {
    CancelledCall c(5s);
    c.keys("0301234567*");
    ASSERT_TRUE(reachPhase(c.h, CallPhase::Dialling));
    // Two indications just before the call goes out: the first is taken
    // before it, the cancel after it, ahead of the confirmation.
    milliseconds placed = *c.h.timers.dueAt(TimerId::Timer3);
    c.h.runFor(placed - c.h.now() - 2ms);
    c.keys("5");
    c.h.runFor(1ms);
    c.keys("#");
    c.h.runFor(50ms);

    EXPECT_EQ(c.h.line.partyRecord(c.target).count(PartyEvent::CancelledByPc), 1u);
    c.dialAgainAndHangUp();
    EXPECT_NE(withoutTimes(c.h.callLogText()).find(callStart() + kCancelled), std::string::npos);
}

// Phase 8: the called party rings; the cancel releases its call.
TEST(Cancel, WhileTheCalledPartyRings) {
    CancelledCall c(10s);
    c.keys("0301234567*");
    ASSERT_TRUE(reachPhase(c.h, CallPhase::DialConfirmed));
    c.h.runFor(1s);
    c.keys("#");
    c.h.runFor(100ms);
    EXPECT_EQ(c.h.line.partyRecord(c.target).count(PartyEvent::CancelledByPc), 1u);
    EXPECT_EQ(c.h.phase(), CallPhase::Dialogue);

    c.dialAgainAndHangUp();
    EXPECT_NE(withoutTimes(c.h.callLogText()).find(callStart() + kCancelled), std::string::npos);
}

// Phase 9: the called party has answered and its B3 connection is coming
// up; the cancel clears it and then the call. No cancel line: the ended
// conversation is logged instead.
TEST(Cancel, WhileTheCalledPartysB3ConnectionComesUp) {
    CancelledCall c(1s);
    c.keys("0301234567*");
    ASSERT_TRUE(reachPhase(c.h, CallPhase::TargetConnected));
    c.keys("#");
    c.h.runFor(200ms);
    EXPECT_EQ(c.h.line.partyRecord(c.target).count(PartyEvent::ClearedByPc), 1u);
    EXPECT_EQ(c.h.phase(), CallPhase::Dialogue);

    c.dialAgainAndHangUp();
    EXPECT_NE(withoutTimes(c.h.callLogText())
                  .find(callStart() +
                        "   Beginn des Gesprächs: <time>\r\n"
                        "   Ende des Gesprächs  : <time>\r\n"
                        "   Gesprächsdauer      : 0 s\r\n" +
                        secondAttemptLines()),
              std::string::npos)
        << c.h.callLogText();
}

// Phase 10 under one-sided disconnect: the conversation ends, the mobile
// caller is back at number entry.
TEST(Cancel, DuringTheConversationOneSided) {
    CancelledCall c(1s);
    c.keys("0301234567*");
    ASSERT_TRUE(reachPhase(c.h, CallPhase::Relaying));
    c.h.runFor(3s);
    c.keys("#");
    c.h.runFor(200ms);
    EXPECT_EQ(c.h.line.partyRecord(c.target).count(PartyEvent::ClearedByPc), 1u);
    auto heard = exchange::checkHeard(c.h.line.partyRecord(c.target), c.mobile);
    EXPECT_TRUE(heard.ok()) << heard.describe();

    c.dialAgainAndHangUp();
    EXPECT_NE(withoutTimes(c.h.callLogText())
                  .find(callStart() +
                        "   Beginn des Gesprächs: <time>\r\n"
                        "   Ende des Gesprächs  : <time>\r\n"
                        "   Gesprächsdauer      : 3 s\r\n" +
                        secondAttemptLines()),
              std::string::npos)
        << c.h.callLogText();
}

// Phase 10 under total disconnect: the cancel ends the whole call.
TEST(Cancel, DuringTheConversationTotal) {
    CancelledCall c(1s, true);
    c.keys("0301234567*");
    ASSERT_TRUE(reachPhase(c.h, CallPhase::Relaying));
    c.h.runFor(3s);
    c.keys("#");
    c.h.runFor(1s);

    EXPECT_EQ(c.h.phase(), CallPhase::Idle);
    EXPECT_EQ(c.h.line.partyRecord(c.target).count(PartyEvent::ClearedByPc), 1u);
    EXPECT_EQ(c.h.line.partyRecord(c.mobile).count(PartyEvent::ClearedByPc), 1u);
    EXPECT_EQ(withoutTimes(c.h.callLogText()), callStart() +
                                                   "   Beginn des Gesprächs: <time>\r\n"
                                                   "   Ende des Gesprächs  : <time>\r\n"
                                                   "   Gesprächsdauer      : 3 s\r\n" +
                                                   logConnectionEnd("4s"));
    EXPECT_EQ(c.h.shell.trays.back(), "Tellmaro ist betriebsbereit");
    EXPECT_LINE_SETTLED(c.h);
}

}  // namespace
}  // namespace tellmaro::test
