// Whole calls through the relay on the simulated line.
#include <gtest/gtest.h>

#include "engine_harness.h"

namespace tellmaro::test {
namespace {

using exchange::PartyBehaviour;
using exchange::PartyEvent;

constexpr const char* kMobile = "01711234567";
constexpr const char* kTarget = "0301234567";

TEST(RelayedCall, DirectAnswerDialRelayAndHangUp) {
    EngineHarness h;
    PartyBehaviour mobile;
    mobile.keys = {{2s, "0301234567#"}};
    auto mobileId = h.addParty(kMobile, mobile);
    PartyBehaviour target;
    target.answerAfter = 3s;
    target.hangUpAfter = 20s;
    auto targetId = h.addParty(kTarget, target);
    h.startUp();

    h.line.callPcAt(h.now() + 1s, mobileId);
    // The target answers about 6 s in and hangs up 20 s later; under the
    // one-sided disconnect the mobile caller is back at number entry.
    h.runFor(30s);

    EXPECT_EQ(h.engine.state().callPhase, relay::CallPhase::Dialogue);
    auto heard = exchange::checkHeard(h.line.partyRecord(targetId), mobileId);
    EXPECT_TRUE(heard.ok()) << heard.describe();
    auto back = exchange::checkHeard(h.line.partyRecord(mobileId), targetId);
    EXPECT_TRUE(back.ok()) << back.describe();

    h.line.hangUpNow(mobileId);
    h.runFor(5s);
    EXPECT_EQ(h.engine.state().callPhase, relay::CallPhase::Idle);
    auto accounting = h.line.accounting();
    EXPECT_TRUE(accounting.idle());
    EXPECT_TRUE(accounting.clean()) << accounting.violations.size() << " violations";
    for (const auto& v : accounting.violations) {
        ADD_FAILURE() << v.detail << ": " << v.message;
    }
    EXPECT_EQ(h.callLogText(),
              "\r\n\r\n\r\n"
              "Anrufende Nummer       : 1711234567\r\n"
              "Datum/Uhrzeit          : 03.12.2001 14:05:34\r\n"
              "\r\n"
              "   Gewählte Nummer     : 0301234567\r\n"
              "   Beginn des Gesprächs: 03.12.2001 14:05:39\r\n"
              "   Ende des Gesprächs  : 03.12.2001 14:05:59\r\n"
              "   Gesprächsdauer      : 20 s\r\n"
              "\r\n"
              "Ende der Verbindung    : 03.12.2001 14:06:03\r\n"
              "Verbindungsdauer       : 29s\r\n");
}

}  // namespace
}  // namespace tellmaro::test
