// How calls end: the outgoing call failing or ending, the mobile caller
// hanging up in each phase, the seized line lost, and the keep-alive that
// prevents that.
#include <gtest/gtest.h>

#include <functional>

#include "engine_harness.h"
#include "flow_checks.h"

namespace tellmaro::test {
namespace {

using exchange::PartyBehaviour;
using exchange::PartyEvent;
using relay::CallPhase;
using relay::TimerId;
using Names = std::vector<std::string>;

constexpr const char* kNotReachable =
    "   Abbruch, Grund      : Der Angerufene ist nicht erreichbar\r\n";
constexpr const char* kMobileHungUp = "   Abbruch, Grund      : Handybenutzer hat aufgelegt\r\n";

// A busy or unknown number: "nicht_erreichbar.pdt", its log line, the line
// seized again, and the mobile caller dials another number.
TEST(Teardown, FailedCallLetsTheMobileDialAgain) {
    for (bool busy : {true, false}) {
        SCOPED_TRACE(busy ? "busy" : "unknown number");
        EngineHarness h;
        auto mobileId = h.addParty(kMobile);
        if (busy) {
            PartyBehaviour target;
            target.onCall = PartyBehaviour::OnCall::Busy;
            h.addParty(kTarget, target);
        }
        auto secondId = h.addParty(kSecondTarget);
        h.startUp();
        h.line.callPcAt(h.now() + 1s, mobileId);
        ASSERT_TRUE(reachPhase(h, CallPhase::Dialogue));
        h.line.pressKeysNow(mobileId, "0301234567#");
        ASSERT_TRUE(reachPhase(h, CallPhase::DialConfirmed));
        ASSERT_TRUE(reachPhase(h, CallPhase::Dialogue, 1s));
        h.runFor(8s);

        EXPECT_EQ(countSeizures(h), 2u);
        auto prompts = promptNames(heardPrompts(h, mobileId));
        auto failed = std::find(prompts.begin(), prompts.end(), "nicht_erreichbar.pdt");
        ASSERT_NE(failed, prompts.end()) << ::testing::PrintToString(prompts);
        EXPECT_EQ(*(failed + 1), "welcome.pdt (cut)");
        EXPECT_EQ(withoutTimes(h.callLogText()),
                  logCallStart() + logDialled("0301234567") + kNotReachable);

        h.line.pressKeysNow(mobileId, "0402345678#");
        EXPECT_TRUE(reachPhase(h, CallPhase::Relaying));
        h.line.hangUpNow(mobileId);
        h.runFor(2s);
        EXPECT_EQ(h.line.partyRecord(secondId).count(PartyEvent::ClearedByPc), 1u);
        EXPECT_LINE_SETTLED(h);
    }
}

// A normal end before the conversation (the called party hangs up as it
// answers): no notice, no log line, and the line is seized again so that
// the next number can go out.
TEST(Teardown, NormalEndOfTheOutgoingCallBeforeTheConversation) {
    PartyBehaviour target = answersAfter(1s);
    target.hangUpAfter = 0ms;
    MobileCall c({}, target);
    auto& h = c.h;
    auto mobileId = c.mobile;
    auto secondId = h.addParty(kSecondTarget);
    ASSERT_TRUE(c.dial("0301234567#", CallPhase::TargetConnected));
    ASSERT_TRUE(reachPhase(h, CallPhase::Dialogue, 1s));
    h.runFor(1s);

    EXPECT_EQ(countSeizures(h), 2u);
    EXPECT_NE(h.engine.state().targetPlci, 0u);
    EXPECT_EQ(withoutTimes(h.callLogText()), logCallStart() + logDialled("0301234567"));
    auto prompts = promptNames(heardPrompts(h, mobileId));
    EXPECT_EQ(std::count(prompts.begin(), prompts.end(), "nicht_erreichbar.pdt"), 0);

    c.keys("0402345678#");
    EXPECT_TRUE(reachPhase(h, CallPhase::Relaying));
    c.hangUpAndSettle();
    EXPECT_EQ(h.line.partyRecord(secondId).count(PartyEvent::ClearedByPc), 1u);
}

// The mobile caller hangs up in each phase of a directly answered call: the
// call ends, every other connection is released, the relay is ready again,
// and the log says how far the call got.
TEST(Teardown, MobileHangsUpInEachPhase) {
    struct Case {
        CallPhase phase;
        // Brings the call to the phase; the mobile hangs up right after.
        std::function<void(EngineHarness&, exchange::PartyId)> reach;
        std::string log;
        size_t targetCalls;
    };
    auto dialAnd = [](CallPhase phase) {
        return [phase](EngineHarness& h, exchange::PartyId mobile) {
            ASSERT_TRUE(reachPhase(h, CallPhase::Dialogue));
            h.line.pressKeysNow(mobile, "0301234567#");
            ASSERT_TRUE(reachPhase(h, phase));
        };
    };
    std::vector<Case> cases = {
        {CallPhase::MobileConnected,
         [](EngineHarness& h, exchange::PartyId) {
             ASSERT_TRUE(reachPhase(h, CallPhase::MobileConnected));
         },
         logCallStart() + logConnectionEnd("0s"), 0},
        {CallPhase::Dialogue,
         [](EngineHarness& h, exchange::PartyId) {
             ASSERT_TRUE(reachPhase(h, CallPhase::Dialogue));
             h.runFor(1s);
         },
         logCallStart() + logConnectionEnd("1s"), 0},
        // The keys and the hang-up at the same moment: the hang-up is seen
        // while the seized line is being released.
        {CallPhase::NumberConfirmed,
         [](EngineHarness& h, exchange::PartyId mobile) {
             ASSERT_TRUE(reachPhase(h, CallPhase::Dialogue));
             h.line.pressKeysNow(mobile, "0301234567#");
         },
         logCallStart() + logDialled("0301234567") + kMobileHungUp + logConnectionEnd("0s"), 0},
        // Before the call is placed: it never goes out.
        {CallPhase::Dialling, dialAnd(CallPhase::Dialling),
         logCallStart() + logDialled("0301234567") + logConnectionEnd("0s"), 0},
        {CallPhase::DialConfirmed, dialAnd(CallPhase::DialConfirmed),
         logCallStart() + logDialled("0301234567") + kMobileHungUp + logConnectionEnd("0s"), 1},
        {CallPhase::TargetConnected, dialAnd(CallPhase::TargetConnected),
         logCallStart() + logDialled("0301234567") + "   Beginn des Gesprächs: <time>\r\n" +
             kMobileHungUp +
             "   Ende des Gesprächs  : <time>\r\n"
             "   Gesprächsdauer      : 0 s\r\n" +
             logConnectionEnd("1 s"),
         1},
        {CallPhase::Relaying,
         [](EngineHarness& h, exchange::PartyId mobile) {
             ASSERT_TRUE(reachPhase(h, CallPhase::Dialogue));
             h.line.pressKeysNow(mobile, "0301234567#");
             ASSERT_TRUE(reachPhase(h, CallPhase::Relaying));
             h.runFor(2s);
         },
         logCallStart() + logDialled("0301234567") +
             "   Beginn des Gesprächs: <time>\r\n"
             "   Ende des Gesprächs  : <time>\r\n"
             "   Gesprächsdauer      : 2 s\r\n" +
             logConnectionEnd("3 s"),
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(relay::callPhaseName(c.phase)));
        MobileCall call;
        auto& h = call.h;
        auto mobileId = call.mobile;
        auto targetId = call.target;
        c.reach(h, mobileId);
        if (c.phase != CallPhase::NumberConfirmed) {  // that one is entered after the hang-up
            EXPECT_EQ(h.phase(), c.phase);
        }
        h.line.hangUpNow(mobileId);
        h.runFor(3s);

        EXPECT_EQ(h.phase(), CallPhase::Idle);
        EXPECT_EQ(h.shell.trays.back(), "Tellmaro ist betriebsbereit");
        EXPECT_TRUE(h.shell.menuEnabled);
        EXPECT_FALSE(h.timers.timerEnabled(TimerId::Timer2));
        EXPECT_EQ(h.line.partyRecord(targetId).callsFromPc, c.targetCalls);
        EXPECT_EQ(withoutTimes(h.callLogText()), c.log);
        EXPECT_LINE_SETTLED(h);
    }
}

// In call-back mode the mobile caller may turn down the call-back; the
// seized line is released.
TEST(Teardown, MobileDeclinesTheCallBack) {
    HarnessOptions options;
    options.settings.callBack = true;
    EngineHarness h(options);
    PartyBehaviour mobile;
    mobile.ringTime = 2s;
    mobile.answerAfter = 10s;
    auto mobileId = h.addParty(kMobile, mobile);
    h.startUp();
    h.line.callPcAt(h.now() + 1s, mobileId);
    ASSERT_TRUE(reachPhase(h, CallPhase::CallBackConfirmed));
    h.runFor(2s);
    h.line.hangUpNow(mobileId);
    h.runFor(1s);

    EXPECT_EQ(h.line.partyRecord(mobileId).count(PartyEvent::DeclinedCall), 1u);
    EXPECT_EQ(h.phase(), CallPhase::Idle);
    EXPECT_EQ(h.shell.trays.back(), "Tellmaro ist betriebsbereit");
    EXPECT_EQ(withoutTimes(h.callLogText()), logCallStart());
    EXPECT_LINE_SETTLED(h);
}

// Direct answer: a mobile that hangs up before it was answered is called
// back all the same.
TEST(Teardown, MobileHangingUpBeforeTheAnswerIsCalledBack) {
    EngineHarness h;
    PartyBehaviour mobile;
    mobile.acceptsCallBack = false;
    auto mobileId = h.addParty(kMobile, mobile);
    h.startUp();
    h.line.callPcAt(h.now() + 1s, mobileId);
    ASSERT_TRUE(reachPhase(h, CallPhase::Taken));
    h.line.hangUpNow(mobileId);
    h.runFor(1s);
    EXPECT_EQ(h.phase(), CallPhase::CallBackConfirmed);
    EXPECT_EQ(h.line.partyRecord(mobileId).callsFromPc, 1u);

    // Unanswered, the network gives up on the call-back after a minute.
    h.runFor(61s);
    EXPECT_EQ(h.line.partyRecord(mobileId).count(PartyEvent::MissedCall), 1u);
    EXPECT_EQ(h.phase(), CallPhase::Idle);
    EXPECT_LINE_SETTLED(h);
}

// While the call-back mobile rings the keep-alive holds the seized line;
// once it stops, the network clears the line and the ringing call is
// cleared too, without a call-back.
TEST(Teardown, SeizedLineLostWhileTheMobileRings) {
    HarnessOptions options;
    options.settings.callBack = true;
    EngineHarness h(options);
    PartyBehaviour mobile;
    mobile.ringTime = 40s;
    auto mobileId = h.addParty(kMobile, mobile);
    h.startUp();
    h.line.callPcAt(h.now() + 1s, mobileId);
    ASSERT_TRUE(reachPhase(h, CallPhase::Taken));
    h.runFor(20s);
    EXPECT_EQ(h.phase(), CallPhase::Taken);  // kept alive past the network's 15 s

    h.timers.setTimerEnabled(TimerId::Timer2, false);
    h.runFor(16s);
    EXPECT_EQ(h.phase(), CallPhase::Idle);
    EXPECT_EQ(h.line.partyRecord(mobileId).count(PartyEvent::Rejected), 1u);
    EXPECT_EQ(h.line.partyRecord(mobileId).callsFromPc, 0u);
    EXPECT_EQ(h.shell.trays.back(), "Tellmaro ist betriebsbereit");
    EXPECT_EQ(withoutTimes(h.callLogText()), logCallStart());
    EXPECT_LINE_SETTLED(h);
}

// After the called party hung up (one-sided disconnect) the line is seized
// again with a single keypad message and no keep-alive: if the mobile
// caller dials nothing, the network clears that line and the call ends.
TEST(Teardown, SeizedLineLostAtNumberEntry) {
    PartyBehaviour target = answersAfter(1s);
    target.hangUpAfter = 2s;
    MobileCall c({}, target);
    auto& h = c.h;
    auto mobileId = c.mobile;
    ASSERT_TRUE(c.dial("0301234567#", CallPhase::Relaying));
    ASSERT_TRUE(reachPhase(h, CallPhase::Dialogue));
    size_t before = h.sentMessages().size();
    h.runFor(14s);
    EXPECT_EQ(h.phase(), CallPhase::Dialogue);
    EXPECT_EQ(countSent(h, "INFO_REQ", before), 1u);
    EXPECT_FALSE(h.timers.timerEnabled(TimerId::Timer2));

    h.runFor(3s);
    EXPECT_EQ(h.phase(), CallPhase::Idle);
    EXPECT_EQ(h.line.partyRecord(mobileId).count(PartyEvent::ClearedByPc), 1u);
    EXPECT_EQ(countSent(h, "INFO_REQ", before), 1u);
    EXPECT_EQ(withoutTimes(h.callLogText()), logCallStart() + logDialled("0301234567") +
                                                 "   Beginn des Gesprächs: <time>\r\n"
                                                 "   Ende des Gesprächs  : <time>\r\n"
                                                 "   Gesprächsdauer      : 2 s\r\n" +
                                                 logConnectionEnd("18s"));
    EXPECT_LINE_SETTLED(h);
}

// The keep-alive: a keypad INFO_REQ on the seized line as soon as the
// seizure is confirmed and every 8 s after the call was taken, until the
// number is confirmed.
TEST(Teardown, KeepAliveEveryEightSecondsUntilTheNumberIsConfirmed) {
    MobileCall c;
    auto& h = c.h;
    h.runFor(21s);

    std::vector<long long> times;
    for (const auto& message : h.sentMessages()) {
        if (message.text.starts_with("INFO_REQ ")) {
            times.push_back(message.at.count());
            EXPECT_NE(message.text.find("PLCI=0x00000201"), std::string::npos) << message.text;
        }
    }
    // Taken at 1.000 s, the seizure confirmed on the next tick.
    EXPECT_EQ(times, (std::vector<long long>{1020, 9000, 17000}));
    EXPECT_EQ(h.phase(), CallPhase::Dialogue);

    c.keys("0301234567#");
    ASSERT_TRUE(reachPhase(h, CallPhase::NumberConfirmed, 1s));
    EXPECT_FALSE(h.timers.timerEnabled(TimerId::Timer2));
    h.runFor(20s);
    EXPECT_EQ(h.phase(), CallPhase::Relaying);
    EXPECT_EQ(countSent(h, "INFO_REQ"), 3u);
    c.hangUpAndSettle();
}

}  // namespace
}  // namespace tellmaro::test
