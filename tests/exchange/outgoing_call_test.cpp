// The PC's calls: routed by the longest number prefix, failing as a network
// fails, and the line seizure that lives only on keypad information.
#include <gtest/gtest.h>

#include "line_harness.h"

namespace tellmaro::exchange::test {
namespace {

PartyBehaviour answeringAfter(std::chrono::milliseconds after) {
    PartyBehaviour behaviour;
    behaviour.answerAfter = after;
    return behaviour;
}

PartyBehaviour onCall(PartyBehaviour::OnCall what) {
    PartyBehaviour behaviour;
    behaviour.onCall = what;
    return behaviour;
}

TEST(OutgoingCall, ReachesThePartyWithTheLongestPrefixOfTheDialledDigits) {
    LineHarness h;
    PartyId exchange = h.line.addParty("0301", onCall(PartyBehaviour::OnCall::Busy));
    PartyId alice = h.line.addParty("030123456", answeringAfter(3s));
    PartyId near = h.line.addParty("0301234568");  // shares a long start, but is no prefix

    // The relay fills the number with "0" up to 20 characters.
    h.putOk(h.relay.connectReqToNumber("0301234567", kOwnNumber));
    auto conf = h.expect(Command::Connect, Subcommand::Conf);
    EXPECT_EQ(conf.word(12), 0u);
    h.advance(2999ms);
    h.expectNothing();
    h.advance(1ms);
    EXPECT_EQ(h.expect(Command::ConnectActive, Subcommand::Ind).address(), conf.address());
    EXPECT_EQ(h.line.partyRecord(alice).callsFromPc, 1u);
    EXPECT_TRUE(h.line.partyRecord(alice).heard(PartyEvent::Connected));
    EXPECT_EQ(h.line.partyRecord(exchange).callsFromPc, 0u);
    EXPECT_EQ(h.line.partyRecord(near).callsFromPc, 0u);
    EXPECT_TRUE(h.line.violations().empty()) << h.violations();
}

TEST(OutgoingCall, FailsLikeANetworkWithTheReasonOfTheCase) {
    struct Case {
        const char* name;
        PartyBehaviour behaviour;
        const char* dialled;
        std::chrono::milliseconds after;
        uint16_t reason;
    };
    PartyBehaviour refusesCallBack;
    refusesCallBack.acceptsCallBack = false;
    const Case cases[] = {
        {"unknown number", {}, "0999", 100ms, 0x3481},
        {"unreachable party", onCall(PartyBehaviour::OnCall::Unreachable), "0401", 100ms, 0x3481},
        {"busy party", onCall(PartyBehaviour::OnCall::Busy), "0401", 100ms, 0x3491},
        {"party never answers", onCall(PartyBehaviour::OnCall::NoAnswer), "0401", 60s, 0x3493},
        {"party answers too late", answeringAfter(61s), "0401", 60s, 0x3493},
        {"party refuses calls from the PC", refusesCallBack, "0401", 60s, 0x3493},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LineHarness h;
        PartyId party = h.line.addParty("0401", c.behaviour);
        h.putOk(h.relay.connectReqToNumber(c.dialled, kOwnNumber));
        auto conf = h.expect(Command::Connect, Subcommand::Conf);
        EXPECT_EQ(conf.word(12), 0u);
        h.advance(c.after - 1ms);
        h.expectNothing();
        h.advance(1ms);
        auto disconnect = h.expect(Command::Disconnect, Subcommand::Ind);
        EXPECT_EQ(disconnect.address(), conf.address());
        EXPECT_EQ(disconnect.word(12), c.reason);
        h.putOk(h.relay.disconnectResp(disconnect.header.messageNumber, disconnect.address()));
        EXPECT_TRUE(h.line.accounting().idle());
        EXPECT_TRUE(h.clean()) << h.violations();
        if (c.reason == 0x3493) {
            EXPECT_TRUE(h.line.partyRecord(party).heard(PartyEvent::MissedCall));
        }
    }
}

TEST(OutgoingCall, PartyInACallIsBusy) {
    LineHarness h;
    PartyId mobile = h.line.addParty("01711234567");
    h.listen();
    h.answerCallFrom(mobile);
    h.putOk(h.relay.connectReqToNumber("01711234567", kOwnNumber));
    h.expect(Command::Connect, Subcommand::Conf);
    h.advance(100ms);
    EXPECT_EQ(h.expect(Command::Disconnect, Subcommand::Ind).word(12), 0x3491u);
    EXPECT_TRUE(h.line.partyRecord(mobile).heard(PartyEvent::BusyCall));
}

TEST(OutgoingCall, ThirdConnectionFindsNoChannel) {
    LineHarness h;
    h.putOk(h.relay.connectReqSeizure(kOwnNumber));
    h.putOk(h.relay.connectReqSeizure(kOwnNumber));
    auto first = h.expect(Command::Connect, Subcommand::Conf);
    auto second = h.expect(Command::Connect, Subcommand::Conf);
    EXPECT_NE(first.address(), second.address());
    h.putOk(h.relay.connectReqSeizure(kOwnNumber));
    auto third = h.expect(Command::Connect, Subcommand::Conf);
    EXPECT_EQ(third.word(12), 0x2003u);
    ASSERT_EQ(h.line.violations().size(), 1u);
    EXPECT_EQ(h.line.violations()[0].kind, ViolationKind::NoChannel);
    EXPECT_EQ(h.line.accounting().livePlcis, 2u);
}

TEST(OutgoingCall, SeizureLivesAsLongAsKeypadInformationKeepsComing) {
    LineHarness h;
    h.putOk(h.relay.connectReqSeizure(kOwnNumber));
    uint32_t plci = h.expect(Command::Connect, Subcommand::Conf).address();
    // The relay's keep-alive: keypad "0" every 8 s, for two minutes.
    for (int i = 0; i < 15; ++i) {
        h.advance(8s);
        h.putOk(h.relay.infoReqKeypad(plci));
        EXPECT_EQ(h.expect(Command::Info, Subcommand::Conf).word(12), 0u);
    }
    // An INFO_REQ without keypad information does not count.
    std::vector<uint8_t> withoutKeypad(h.relay.infoReqKeypad(plci).begin(),
                                       h.relay.infoReqKeypad(plci).end());
    withoutKeypad[0] = 14;
    withoutKeypad[13] = 0;
    withoutKeypad.resize(14);
    h.advance(8s);
    h.putOk(withoutKeypad);
    h.expect(Command::Info, Subcommand::Conf);
    h.advance(7s - 1ms);
    h.expectNothing();
    h.advance(1ms);
    auto disconnect = h.expect(Command::Disconnect, Subcommand::Ind);
    EXPECT_EQ(disconnect.address(), plci);
    EXPECT_EQ(disconnect.word(12), 0x34E6u) << "recovery on timer expiry";
    EXPECT_TRUE(h.line.violations().empty()) << h.violations();
}

TEST(OutgoingCall, SeizureNeverConnects) {
    LineHarness h;
    h.putOk(h.relay.connectReqSeizure(kOwnNumber));
    uint32_t plci = h.expect(Command::Connect, Subcommand::Conf).address();
    h.advance(14s);
    h.expectNothing();
    h.putOk(h.relay.connectB3Req(plci));
    EXPECT_EQ(h.expect(Command::ConnectB3, Subcommand::Conf).word(12), 0x2001u);
}

}  // namespace
}  // namespace tellmaro::exchange::test
