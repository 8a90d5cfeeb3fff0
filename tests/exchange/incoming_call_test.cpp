// Calls from parties to the PC: offered only to a listener, answered or
// refused, ringing until the caller gives up, and waiting calls.
#include <gtest/gtest.h>

#include "line_harness.h"

namespace tellmaro::exchange::test {
namespace {

constexpr char kMobile[] = "01711234567";

TEST(IncomingCall, AnsweredCallComesUpWithItsB3Connection) {
    LineHarness h;
    PartyId mobile = h.line.addParty(kMobile);
    h.listen();
    Leg leg = h.answerCallFrom(mobile);

    EXPECT_EQ(leg.plci & 0xFF, 1u) << "PLCI of controller 1";
    EXPECT_EQ(leg.ncci & 0xFFFF, leg.plci);
    auto accounting = h.line.accounting();
    EXPECT_EQ(accounting.livePlcis, 1u);
    EXPECT_EQ(accounting.liveNccis, 1u);
    EXPECT_EQ(accounting.busyChannels, 1u);
    EXPECT_TRUE(accounting.clean()) << h.violations();
    EXPECT_TRUE(h.line.partyRecord(mobile).heard(PartyEvent::Answered));
}

TEST(IncomingCall, ConnectIndCarriesTheNumbersAndCipValue) {
    struct Case {
        CallerId callerId;
        std::vector<uint8_t> calling;
    };
    std::vector<uint8_t> digits(kMobile, kMobile + 11);
    std::vector<uint8_t> withNumber = {0x01, 0x83};
    withNumber.insert(withNumber.end(), digits.begin(), digits.end());
    for (const Case& c :
         {Case{CallerId::Number, withNumber}, Case{CallerId::Absent, {}},
          Case{CallerId::TypeOnly, {0x80}}, Case{CallerId::Restricted, {0x01, 0xA3}}}) {
        LineHarness h;
        PartyId mobile = h.line.addParty(kMobile);
        h.putOk(h.relay.listenReq(capi::ListenMask::Calls));
        h.expect(Command::Listen, Subcommand::Conf);
        h.line.callPcNow(mobile, {4, c.callerId});

        auto ind = h.expect(Command::Connect, Subcommand::Ind);
        ASSERT_GE(ind.bytes.size(), 27u + c.calling.size()) << ind.text();
        EXPECT_EQ(ind.word(12), 4u) << "CIP";
        std::vector<uint8_t> called(ind.bytes.begin() + 14, ind.bytes.begin() + 26);
        EXPECT_EQ(called, (std::vector<uint8_t>{11, 0x80, '0', '3', '0', '1', '2', '3', '4', '5',
                                                '6', '7'}));
        size_t callingAt = 14 + 1 + called[0];
        std::vector<uint8_t> calling(ind.bytes.begin() + callingAt + 1,
                                     ind.bytes.begin() + callingAt + 1 + ind.bytes[callingAt]);
        EXPECT_EQ(calling, c.calling);
        EXPECT_EQ(ind.text().find("<"), std::string::npos) << "complete: " << ind.text();
    }
}

TEST(IncomingCall, IsOfferedOnlyWhileTheApplicationListensForItsService) {
    LineHarness h;
    PartyId mobile = h.line.addParty(kMobile);
    h.line.callPcNow(mobile);  // nobody listens yet
    h.expectNothing();

    h.listen();
    h.line.callPcNow(mobile,
                     {2, CallerId::Number});  // unrestricted digital: not in the relay's mask
    h.expectNothing();

    h.putOk(h.relay.listenReq(capi::ListenMask::None));
    h.expect(Command::Listen, Subcommand::Conf);
    h.line.callPcNow(mobile);
    h.expectNothing();

    EXPECT_EQ(h.line.accounting().callsNotOffered, 3u);
    EXPECT_EQ(h.line.partyRecord(mobile).count(PartyEvent::NotOffered), 3u);
    EXPECT_EQ(h.line.accounting().livePlcis, 0u);
}

TEST(IncomingCall, RefusedCallerIsClearedAfterTheResponse) {
    LineHarness h;
    PartyId caller = h.line.addParty("0899");
    h.listen();
    h.line.callPcNow(caller);
    auto ind = h.expect(Command::Connect, Subcommand::Ind);
    h.putOk(h.relay.connectRespRefuse(ind.header.messageNumber, ind.address()));

    auto disconnect = h.expect(Command::Disconnect, Subcommand::Ind);
    EXPECT_EQ(disconnect.address(), ind.address());
    EXPECT_EQ(disconnect.word(12), 0x3490u);
    EXPECT_EQ(h.line.accounting().livePlcis, 1u) << "the PLCI lives until DISCONNECT_RESP";
    h.putOk(h.relay.disconnectResp(disconnect.header.messageNumber, disconnect.address()));
    EXPECT_EQ(h.line.accounting().livePlcis, 0u);
    EXPECT_TRUE(h.clean()) << h.violations();
    EXPECT_TRUE(h.line.partyRecord(caller).heard(PartyEvent::Rejected));
}

// The call-back mode: the call is alerted, never answered, and ends when the
// caller hangs up; the CONNECT_IND needs no response after DISCONNECT_IND.
TEST(IncomingCall, AlertedCallRingsUntilTheCallerGivesUp) {
    LineHarness h;
    PartyBehaviour behaviour;
    behaviour.ringTime = 20s;
    PartyId mobile = h.line.addParty(kMobile, behaviour);
    h.listen();
    h.line.callPcNow(mobile);
    auto ind = h.expect(Command::Connect, Subcommand::Ind);
    h.putOk(h.relay.alertReq(ind.header.messageNumber, ind.address()));
    EXPECT_EQ(h.expect(Command::Alert, Subcommand::Conf).word(12), 0u);
    EXPECT_TRUE(h.line.partyRecord(mobile).heard(PartyEvent::Ringing));

    h.advance(19999ms);
    h.expectNothing();
    h.advance(1ms);
    auto disconnect = h.expect(Command::Disconnect, Subcommand::Ind);
    EXPECT_EQ(disconnect.word(12), 0x3490u);
    h.putOk(h.relay.disconnectResp(disconnect.header.messageNumber, disconnect.address()));
    EXPECT_TRUE(h.clean()) << h.violations();
    EXPECT_TRUE(h.line.partyRecord(mobile).heard(PartyEvent::GaveUp));
}

TEST(IncomingCall, WaitingCallWhileBothChannelsAreBusyCanOnlyBeRefused) {
    LineHarness h;
    PartyId mobile = h.line.addParty(kMobile);
    PartyId second = h.line.addParty("0401");
    PartyId third = h.line.addParty("0402");
    h.listen();
    h.answerCallFrom(mobile);
    h.putOk(h.relay.connectReqSeizure(kOwnNumber));
    h.expect(Command::Connect, Subcommand::Conf);
    ASSERT_EQ(h.line.accounting().busyChannels, 2u);

    h.line.callPcNow(second);
    auto waiting = h.expect(Command::Connect, Subcommand::Ind);
    h.putOk(h.relay.connectRespRefuse(waiting.header.messageNumber, waiting.address()));
    auto cleared = h.expect(Command::Disconnect, Subcommand::Ind);
    h.putOk(h.relay.disconnectResp(cleared.header.messageNumber, cleared.address()));
    EXPECT_TRUE(h.clean()) << h.violations();

    h.line.callPcNow(third);
    waiting = h.expect(Command::Connect, Subcommand::Ind);
    h.putOk(h.relay.connectRespAnswer(waiting.address(), kOwnNumber));
    cleared = h.expect(Command::Disconnect, Subcommand::Ind);
    EXPECT_EQ(cleared.word(12), 0x34A2u) << "no circuit/channel available";
    ASSERT_EQ(h.line.violations().size(), 1u);
    EXPECT_EQ(h.line.violations()[0].kind, ViolationKind::NoChannel);
    EXPECT_TRUE(h.line.partyRecord(third).heard(PartyEvent::Rejected));
}

}  // namespace
}  // namespace tellmaro::exchange::test
