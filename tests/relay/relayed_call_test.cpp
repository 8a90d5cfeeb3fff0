// Whole calls through the relay on the simulated line: answered and called
// back, relayed both ways, ended under both disconnect modes.
#include <gtest/gtest.h>

#include "engine_harness.h"
#include "flow_checks.h"
#include "message_layout.h"

namespace tellmaro::test {
namespace {

using exchange::PartyBehaviour;
using exchange::PartyEvent;
using relay::CallPhase;

void expectHeardEachOther(const EngineHarness& h, exchange::PartyId a, exchange::PartyId b,
                          size_t aToB, size_t bToA) {
    auto heardByB = exchange::checkHeard(h.line.partyRecord(b), a);
    EXPECT_TRUE(heardByB.ok()) << heardByB.describe();
    EXPECT_EQ(heardByB.blocks, aToB) << heardByB.describe();
    auto heardByA = exchange::checkHeard(h.line.partyRecord(a), b);
    EXPECT_TRUE(heardByA.ok()) << heardByA.describe();
    EXPECT_EQ(heardByA.blocks, bToA) << heardByA.describe();
}

// Direct answer, a number keyed in, the called party answers and hangs up
// after a second; under total disconnect that ends the whole call.
TEST(RelayedCall, EveryMessageOfACallEndedByTheCalledPartyUnderTotalDisconnect) {
    HarnessOptions options;
    options.settings.totalDisconnect = true;
    PartyBehaviour mobile;
    mobile.keys = {{500ms, "0301234567#"}};
    PartyBehaviour target = answersAfter(300ms);
    target.hangUpAfter = 1000ms;
    MobileCall c(options, target, mobile);
    auto& h = c.h;
    auto mobileId = c.mobile;
    auto targetId = c.target;
    h.runFor(10s);

    // Mobile PLCI 0x101 and NCCI 0x10101; the seizure 0x201; the called
    // party 0x301 and 0x20301; the seizure made after the end 0x401.
    EXPECT_TRUE(sentAsListed(
        h,
        {
            "LISTEN_REQ #1 8:0x00000001 12:0x00000000 16:0x04010032 20:0x00000000 24:00 25:00",
            // the registered mobile calls: alert it, seize the second B channel
            "ALERT_REQ #1 8:0x00000101 12:0000000000",
            "CONNECT_REQ #123 8:0x00000001 12:16 14:0180 16:160183 19:\"07115550000000000000\" "
            "39:00 40:00 41:0401000100 46:0000 48:00 49:0000000000 54:0000 56:000000 59:00000000",
            // the seizure is confirmed: keypad keep-alive, then answer the mobile
            "INFO_REQ #160 8:0x00000201 12:00 13:03 14:00 15:01 16:\"0\"",
            "CONNECT_RESP #200 8:0x00000101 12:0 14:01010001000000000000 24:1780 "
            "26:\"07115550000000000000\" 46:20 47:000000000000000000000000",
            "CONNECT_ACTIVE_RESP #130 8:0x00000101", "CONNECT_B3_RESP #199 8:0x00010101 12:0 14:00",
            "FACILITY_REQ #134 8:0x00010101 12:1 14:09 15:1 17:40 19:40 21:0000",
            "CONNECT_B3_ACTIVE_RESP #132 8:0x00010101",
            // the greeting's first block for the mobile's first block
            "DATA_B3_REQ #141 8:0x00010101 12:0x00000000 16:2048 18:0 20:0 22:&prompt",
            "DATA_B3_RESP #135 8:0x00010101 12:0",
            // number confirmed: release the seizure, then dial
            "FACILITY_RESP #135 8:0x00010101 12:1 14:000000",
            "DISCONNECT_REQ #129 8:0x00000201 12:00", "DISCONNECT_RESP #7 8:0x00000201",
            // the greeting goes on while the call is placed
            "DATA_B3_REQ #141 8:0x00010101 12:0x00000000 16:2048 18:1 20:0 22:&prompt",
            "DATA_B3_RESP #135 8:0x00010101 12:1",
            "CONNECT_REQ #123 8:0x00000001 12:16 14:1580 16:\"03012345670000000000\" 36:160183 "
            "39:\"07115550000000000000\" 59:00 60:00 61:0401000100 66:0000 68:00 "
            "69:0000000000 74:0000 76:000000 79:00000000",
            "DATA_B3_REQ #141 8:0x00010101 12:0x00000000 16:2048 18:2 20:0 22:&prompt",
            "DATA_B3_RESP #135 8:0x00010101 12:2",
            // the called party answers: its B3 connection, then reset the mobile's
            "CONNECT_ACTIVE_RESP #130 8:0x00000301", "CONNECT_B3_REQ #131 8:0x00000301 12:00",
            "RESET_B3_REQ #0 8:0x00010101 12:00", "RESET_B3_RESP #180 8:0x00010101",
            "CONNECT_B3_ACTIVE_RESP #132 8:0x00020301",
            // relayed without copying, each block answered once its copy is confirmed
            "DATA_B3_REQ #141 8:0x00020301 12:0x00000000 16:2048 18:259 20:0 "
            "22:&block 0x00010101/3",
            "DATA_B3_RESP #142 8:0x00010101 12:3",
            "DATA_B3_REQ #141 8:0x00010101 12:0x00000000 16:2048 18:256 20:0 "
            "22:&block 0x00020301/0",
            "DATA_B3_RESP #142 8:0x00020301 12:0",
            "DATA_B3_REQ #141 8:0x00020301 12:0x00000000 16:2048 18:260 20:0 "
            "22:&block 0x00010101/4",
            "DATA_B3_RESP #142 8:0x00010101 12:4",
            "DATA_B3_REQ #141 8:0x00010101 12:0x00000000 16:2048 18:257 20:0 "
            "22:&block 0x00020301/1",
            "DATA_B3_RESP #142 8:0x00020301 12:1",
            "DATA_B3_REQ #141 8:0x00020301 12:0x00000000 16:2048 18:261 20:0 "
            "22:&block 0x00010101/5",
            "DATA_B3_RESP #142 8:0x00010101 12:5",
            "DATA_B3_REQ #141 8:0x00010101 12:0x00000000 16:2048 18:258 20:0 "
            "22:&block 0x00020301/2",
            "DATA_B3_RESP #142 8:0x00020301 12:2",
            "DATA_B3_REQ #141 8:0x00020301 12:0x00000000 16:2048 18:262 20:0 "
            "22:&block 0x00010101/6",
            "DATA_B3_RESP #142 8:0x00010101 12:6",
            // the called party hangs up; every relayed block was already
            // answered, so the flush (#195) has nothing to answer and the
            // driver layer drops it
            "DISCONNECT_B3_REQ #150 8:0x00010101 12:00", "DISCONNECT_B3_RESP #133 8:0x00020301",
            "DISCONNECT_RESP #21 8:0x00000301", "DISCONNECT_REQ #129 8:0x00000101 12:00",
            "DISCONNECT_B3_RESP #133 8:0x00010101", "DISCONNECT_RESP #23 8:0x00000101",
            // no new seizure: the mobile's B3 connection ended before its turn
        }));

    EXPECT_EQ(h.phase(), CallPhase::Idle);
    EXPECT_EQ(h.shell.trays, (std::vector<std::string>{
                                 "Tellmaro ist betriebsbereit", "Aktive Verbindung",
                                 "Tellmaro ist betriebsbereit", "Tellmaro ist betriebsbereit"}));
    EXPECT_TRUE(h.shell.menuEnabled);
    expectHeardEachOther(h, mobileId, targetId, 4, 3);
    // The confirmation does not stop the greeting; the relay does.
    auto prompts = heardPrompts(h, mobileId);
    EXPECT_EQ(promptNames(prompts), std::vector<std::string>{"welcome.pdt (cut)"});
    EXPECT_EQ(prompts.at(0).blocks, 3u);
    // End of the conversation first, then of the connection, whose
    // duration counts from the mobile's B3 connection and ends in "s".
    EXPECT_EQ(h.callLogText(),
              "\r\n\r\n\r\n"
              "Anrufende Nummer       : 1711234567\r\n"
              "Datum/Uhrzeit          : 03.12.2001 14:05:34\r\n"
              "\r\n"
              "   Gewählte Nummer     : 0301234567\r\n"
              "   Beginn des Gesprächs: 03.12.2001 14:05:34\r\n"
              "   Ende des Gesprächs  : 03.12.2001 14:05:35\r\n"
              "   Gesprächsdauer      : 1 s\r\n"
              "\r\n"
              "Ende der Verbindung    : 03.12.2001 14:05:36\r\n"
              "Verbindungsdauer       : 2s\r\n");
    EXPECT_EQ(h.line.partyRecord(mobileId).count(PartyEvent::ClearedByPc), 1u);
    EXPECT_LINE_SETTLED(h);
}

// One-sided disconnect: the called party hangs up, the mobile caller hears
// the greeting again, dials a second number by speed dial and hangs up
// during that conversation.
TEST(RelayedCall, OneSidedDisconnectLetsTheMobileDialASecondNumber) {
    EngineHarness h;
    writePhoneBook(h, {{"42", kSecondTarget}});
    PartyBehaviour mobile;
    mobile.keys = {{2s, "0301234567#"}, {30s, "#"}, {31s, "42#"}};
    auto mobileId = h.addParty(kMobile, mobile);
    PartyBehaviour target;
    target.answerAfter = 3s;
    target.hangUpAfter = 20s;
    auto targetId = h.addParty(kTarget, target);
    PartyBehaviour second;
    second.answerAfter = 1s;
    auto secondId = h.addParty(kSecondTarget, second);
    h.startUp();
    h.line.callPcAt(h.now() + 1s, mobileId);

    h.runFor(29s);
    EXPECT_EQ(h.phase(), CallPhase::Dialogue);
    // Back at number entry on a newly seized line, hearing the greeting anew.
    EXPECT_EQ(h.line.accounting().livePlcis, 2u);
    auto prompts = promptNames(heardPrompts(h, mobileId));
    EXPECT_EQ(prompts.back(), "welcome.pdt (cut)");

    h.runFor(10s);
    EXPECT_EQ(h.phase(), CallPhase::Relaying);
    h.line.hangUpNow(mobileId);
    h.runFor(3s);

    EXPECT_EQ(h.phase(), CallPhase::Idle);
    auto first = exchange::checkHeard(h.line.partyRecord(targetId), mobileId);
    EXPECT_TRUE(first.ok()) << first.describe();
    auto back = exchange::checkHeard(h.line.partyRecord(mobileId), targetId);
    EXPECT_TRUE(back.ok()) << back.describe();
    auto secondHeard = exchange::checkHeard(h.line.partyRecord(secondId), mobileId);
    EXPECT_TRUE(secondHeard.ok()) << secondHeard.describe();
    EXPECT_GT(secondHeard.first, first.last);
    EXPECT_EQ(h.line.partyRecord(secondId).count(PartyEvent::ClearedByPc), 1u);
    // The mobile hung up first, so the outgoing leg's B3 connection ended
    // last and the connection duration ends in " s".
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
              "   Gewählte Nummer     : 0402345678\r\n"
              "   Beginn des Gesprächs: 03.12.2001 14:06:06\r\n"
              "   Ende des Gesprächs  : 03.12.2001 14:06:12\r\n"
              "   Gesprächsdauer      : 6 s\r\n"
              "\r\n"
              "Ende der Verbindung    : 03.12.2001 14:06:12\r\n"
              "Verbindungsdauer       : 38 s\r\n");
    EXPECT_LINE_SETTLED(h);
}

// The called party hangs up just as a mobile block is relayed to it: the
// copy is refused as its connection is already cleared, and the block is
// answered by the flush that follows the end of the called party's B3
// connection.
TEST(RelayedCall, CalledPartyHangsUpWhileABlockIsOnItsWay) {
    MobileCall c;
    auto& h = c.h;
    ASSERT_TRUE(c.dial("0301234567#", CallPhase::Relaying));
    h.runFor(2s);
    uint32_t spoken = h.line.partyRecord(c.mobile).blocksSent;
    ASSERT_TRUE(h.runUntil([&] { return h.line.partyRecord(c.mobile).blocksSent > spoken; }));
    size_t before = h.sentMessages().size();
    h.line.hangUpNow(c.target);
    h.runFor(1s);

    EXPECT_EQ(h.phase(), CallPhase::Dialogue);
    EXPECT_EQ(h.line.accounting().crossings, 1u);
    auto flushed = sentOfKind(h, "DATA_B3_RESP", before);
    EXPECT_TRUE(std::any_of(flushed.begin(), flushed.end(), [](const std::string& text) {
        return text.starts_with("DATA_B3_RESP appl=1 #195 ");
    })) << ::testing::PrintToString(flushed);
    c.hangUpAndSettle(1s);
}

// Call-back: the PC lets the mobile ring, seizes the line, and calls the
// mobile back once its user has given up.
TEST(RelayedCall, CallBackAfterTheMobileGivesUpRinging) {
    HarnessOptions options;
    options.settings.callBack = true;
    options.settings.totalDisconnect = true;
    PartyBehaviour mobile;
    mobile.ringTime = 4s;
    mobile.answerAfter = 2s;
    mobile.keys = {{1s, "0301234567#"}};
    PartyBehaviour target = answersAfter(1s);
    target.hangUpAfter = 3s;
    MobileCall c(options, target, mobile);
    auto& h = c.h;
    auto mobileId = c.mobile;
    auto targetId = c.target;

    h.runFor(3s);
    // Ringing, not answered; the seized line is kept alive.
    EXPECT_EQ(h.phase(), CallPhase::Taken);
    EXPECT_EQ(countSent(h, "CONNECT_RESP"), 0u);
    EXPECT_EQ(countSent(h, "INFO_REQ"), 1u);

    h.runFor(20s);
    EXPECT_EQ(h.phase(), CallPhase::Idle);
    const auto& record = h.line.partyRecord(mobileId);
    EXPECT_EQ(record.count(PartyEvent::GaveUp), 1u);
    EXPECT_EQ(record.callsFromPc, 1u);
    // The call-back dials "0", the caller's digits and "0" fill.
    auto calls = sentOfKind(h, "CONNECT_REQ");
    ASSERT_EQ(calls.size(), 3u);  // seizure, call-back, dialled number
    EXPECT_NE(calls[1].find("CalledNumber=80:\"01711234567000000000\""), std::string::npos)
        << calls[1];
    EXPECT_EQ(promptNames(heardPrompts(h, mobileId)).at(0), "welcome.pdt (cut)");
    expectHeardEachOther(h, mobileId, targetId, 11, 11);
    EXPECT_EQ(h.callLogText(),
              "\r\n\r\n\r\n"
              "Anrufende Nummer       : 1711234567\r\n"
              "Datum/Uhrzeit          : 03.12.2001 14:05:34\r\n"
              "\r\n"
              "   Gewählte Nummer     : 0301234567\r\n"
              "   Beginn des Gesprächs: 03.12.2001 14:05:42\r\n"
              "   Ende des Gesprächs  : 03.12.2001 14:05:45\r\n"
              "   Gesprächsdauer      : 3 s\r\n"
              "\r\n"
              "Ende der Verbindung    : 03.12.2001 14:05:45\r\n"
              "Verbindungsdauer       : 5s\r\n");
    EXPECT_LINE_SETTLED(h);
}

// The call-back number starts with the line-access characters, then the
// national "0" that normalising removed. Nobody has that number here: the
// failed call-back releases the seized line and the relay is ready again.
TEST(RelayedCall, CallBackNumberCarriesTheLineAccessCharacters) {
    HarnessOptions options;
    options.settings.callBack = true;
    options.settings.lineAccessChars = "0";
    EngineHarness h(options);
    PartyBehaviour mobile;
    mobile.ringTime = 2s;
    auto mobileId = h.addParty(kMobile, mobile);
    h.startUp();
    h.line.callPcAt(h.now() + 1s, mobileId);
    h.runFor(4s);

    auto calls = sentOfKind(h, "CONNECT_REQ");
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_NE(calls[1].find("CalledNumber=80:\"00171123456700000000\""), std::string::npos)
        << calls[1];
    EXPECT_EQ(h.line.partyRecord(mobileId).callsFromPc, 0u);
    EXPECT_EQ(h.phase(), CallPhase::Idle);
    EXPECT_EQ(h.shell.trays.back(), "Tellmaro ist betriebsbereit");
    EXPECT_LINE_SETTLED(h);
}

}  // namespace
}  // namespace tellmaro::test
