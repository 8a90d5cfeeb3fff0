// Who is served: the registered mobile in either number form, and the
// refusal of every other caller with its call-log lines.
#include <gtest/gtest.h>

#include "engine_harness.h"
#include "flow_checks.h"
#include "message_layout.h"

namespace tellmaro::test {
namespace {

using exchange::CallerId;
using exchange::PartyBehaviour;
using exchange::PartyEvent;
using relay::CallPhase;

constexpr const char* kRefusal = "Abbruch, Grund         : Nicht registrierte Handynummer\r\n";

// Leading zeros are removed on both sides before the comparison, and the
// log shows the caller's digits without them. Without a registered number
// nobody is served, not even a caller whose digits are all zeros.
TEST(IncomingCall, RegisteredNumberMatchesWithOrWithoutLeadingZeros) {
    struct Case {
        const char* registered;
        const char* presented;
        bool served;
    };
    for (Case c : {Case{"01711234567", "1711234567", true}, Case{"1711234567", "01711234567", true},
                   Case{"01711234567", "001711234567", true}, Case{"", "000", false}}) {
        SCOPED_TRACE(std::string(c.registered) + " called from " + c.presented);
        HarnessOptions options;
        options.mobileNumber = c.registered;
        EngineHarness h(options);
        auto mobileId = h.addParty(c.presented);
        h.startUp();
        h.line.callPcAt(h.now() + 1s, mobileId);
        if (!c.served) {
            h.runFor(2s);
            EXPECT_EQ(h.line.partyRecord(mobileId).count(PartyEvent::Rejected), 1u);
            continue;
        }
        EXPECT_TRUE(reachPhase(h, CallPhase::Dialogue, 5s));
        h.line.hangUpNow(mobileId);
        h.runFor(1s);
        EXPECT_EQ(h.phase(), CallPhase::Idle);
        EXPECT_EQ(withoutTimes(h.callLogText()),
                  "\r\n\r\n\r\n"
                  "Anrufende Nummer       : 1711234567\r\n"
                  "Datum/Uhrzeit          : <time>\r\n"
                  "\r\n"
                  "Ende der Verbindung    : <time>\r\n"
                  "Verbindungsdauer       : 0s\r\n");
        EXPECT_LINE_SETTLED(h);
    }
}

TEST(IncomingCall, AnotherNumberIsRefused) {
    EngineHarness h;
    auto strangerId = h.addParty("0891234567");
    h.startUp();
    h.line.callPcAt(h.now() + 1s, strangerId);
    h.runFor(2s);

    EXPECT_EQ(h.phase(), CallPhase::Idle);
    EXPECT_EQ(h.line.partyRecord(strangerId).count(PartyEvent::Rejected), 1u);
    // Reject 2 under the indication's own message number (its first, #1).
    EXPECT_TRUE(
        sentAsListed(h,
                     {"CONNECT_RESP #1 8:0x00000101 12:2 14:00000000000000000000000000000000"
                      " 30:1580 32:0000000000000000000000000000000000000000000000000000000"
                      "000000000",
                      "DISCONNECT_RESP #2 8:0x00000101"},
                     1));
    EXPECT_EQ(h.callLogText(),
              "\r\n\r\n\r\n"
              "Anrufende Nummer       : 891234567\r\n"
              "Datum/Uhrzeit          : 03.12.2001 14:05:34\r\n" +
                  std::string(kRefusal));
    EXPECT_EQ(h.shell.trays, std::vector<std::string>{"Tellmaro ist betriebsbereit"});
    EXPECT_LINE_SETTLED(h);
}

// A withheld or missing number is refused like a stranger, logged with an
// empty number and without the blank lines of a call that has one.
TEST(IncomingCall, WithheldNumberIsRefused) {
    for (CallerId id : {CallerId::Absent, CallerId::TypeOnly, CallerId::Restricted}) {
        SCOPED_TRACE(static_cast<int>(id));
        EngineHarness h;
        auto mobileId = h.addParty(kMobile);
        h.startUp();
        h.line.callPcAt(h.now() + 1s, mobileId, {16, id});
        h.runFor(2s);

        EXPECT_EQ(h.phase(), CallPhase::Idle);
        EXPECT_EQ(h.line.partyRecord(mobileId).count(PartyEvent::Rejected), 1u);
        EXPECT_EQ(countSent(h, "CONNECT_REQ"), 0u);
        EXPECT_EQ(h.callLogText(),
                  "Anrufende Nummer       : \r\n"
                  "Datum/Uhrzeit          : 03.12.2001 14:05:34\r\n" +
                      std::string(kRefusal));
        EXPECT_LINE_SETTLED(h);
    }
}

// A second caller while a call is relayed is refused; its lines stand in
// the middle of the running call's entry, and since it sets the call time
// anew the running call's connection duration counts from it.
TEST(IncomingCall, SecondCallerDuringARelayedCallIsRefused) {
    EngineHarness h;
    PartyBehaviour mobile;
    mobile.keys = {{1s, "0301234567#"}};
    auto mobileId = h.addParty(kMobile, mobile);
    PartyBehaviour target;
    target.answerAfter = 1s;
    target.hangUpAfter = 10s;
    auto targetId = h.addParty(kTarget, target);
    auto strangerId = h.addParty("0891234567");
    h.startUp();
    h.line.callPcAt(h.now() + 1s, mobileId);
    ASSERT_TRUE(reachPhase(h, CallPhase::Relaying));
    h.runFor(2s);
    size_t before = h.sentMessages().size();
    h.line.callPcNow(strangerId);
    h.runFor(2s);

    EXPECT_EQ(h.phase(), CallPhase::Relaying);
    EXPECT_EQ(h.line.partyRecord(strangerId).count(PartyEvent::Rejected), 1u);
    EXPECT_EQ(countSent(h, "CONNECT_RESP", before), 1u);
    EXPECT_NE(sentOfKind(h, "CONNECT_RESP", before).at(0).find("Reject=0x0002"), std::string::npos);
    // Its clearing is answered and touches nothing of the running call.
    EXPECT_EQ(h.shell.trays.back(), "Aktive Verbindung");
    EXPECT_FALSE(h.shell.menuEnabled);

    h.line.hangUpNow(mobileId);
    h.runFor(2s);
    EXPECT_EQ(h.phase(), CallPhase::Idle);
    auto heard = exchange::checkHeard(h.line.partyRecord(targetId), mobileId);
    EXPECT_TRUE(heard.ok()) << heard.describe();
    auto back = exchange::checkHeard(h.line.partyRecord(mobileId), targetId);
    EXPECT_TRUE(back.ok()) << back.describe();
    EXPECT_EQ(h.callLogText(),
              "\r\n\r\n\r\n"
              "Anrufende Nummer       : 1711234567\r\n"
              "Datum/Uhrzeit          : 03.12.2001 14:05:34\r\n"
              "\r\n"
              "   Gewählte Nummer     : 0301234567\r\n"
              "   Beginn des Gesprächs: 03.12.2001 14:05:36\r\n"
              "Anrufende Nummer       : \r\n"
              "Datum/Uhrzeit          : 03.12.2001 14:05:38\r\n" +
                  std::string(kRefusal) +
                  "   Ende des Gesprächs  : 03.12.2001 14:05:40\r\n"
                  "   Gesprächsdauer      : 4 s\r\n"
                  "\r\n"
                  "Ende der Verbindung    : 03.12.2001 14:05:40\r\n"
                  "Verbindungsdauer       : 2 s\r\n");
    EXPECT_LINE_SETTLED(h);
}

}  // namespace
}  // namespace tellmaro::test
