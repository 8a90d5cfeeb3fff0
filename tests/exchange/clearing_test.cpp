// Clearing B3 connections and calls from either end, crossings, and release.
#include <gtest/gtest.h>

#include "line_harness.h"

namespace tellmaro::exchange::test {
namespace {

using capi::DisconnectB3ReqNumber;
using capi::DisconnectReqNumber;

struct Connected {
    LineHarness h;
    PartyId mobile = 0;
    Leg leg;

    explicit Connected(PartyBehaviour behaviour = {}) {
        mobile = h.line.addParty("0171", behaviour);
        h.listen();
        leg = h.answerCallFrom(mobile);
    }
};

TEST(Clearing, B3ConnectionClearedByTheApplicationLeavesTheCallUp) {
    Connected c;
    auto& h = c.h;
    h.putOk(h.relay.disconnectB3Req(DisconnectB3ReqNumber::First, c.leg.ncci));
    EXPECT_EQ(h.expect(Command::DisconnectB3, Subcommand::Conf).word(12), 0u);
    EXPECT_EQ(h.expect(Command::DisconnectB3, Subcommand::Ind).address(), c.leg.ncci);
    h.advance(2s);
    h.expectNothing();  // no more audio
    EXPECT_EQ(h.line.accounting().liveNccis, 1u) << "until DISCONNECT_B3_RESP";
    h.putOk(h.relay.disconnectB3Resp(c.leg.ncci));
    auto accounting = h.line.accounting();
    EXPECT_EQ(accounting.liveNccis, 0u);
    EXPECT_EQ(accounting.livePlcis, 1u);

    h.putOk(h.relay.disconnectReq(DisconnectReqNumber::SendDisconnectReq, c.leg.plci));
    h.expect(Command::Disconnect, Subcommand::Conf);
    auto ind = h.expect(Command::Disconnect, Subcommand::Ind);
    h.putOk(h.relay.disconnectResp(ind.header.messageNumber, ind.address()));
    EXPECT_TRUE(h.line.accounting().idle());
    EXPECT_TRUE(h.clean()) << h.violations();
    EXPECT_TRUE(h.line.partyRecord(c.mobile).heard(PartyEvent::ClearedByPc));
}

TEST(Clearing, CallClearedByTheApplicationClearsItsB3ConnectionFirst) {
    Connected c;
    auto& h = c.h;
    h.putOk(h.relay.disconnectReq(DisconnectReqNumber::SendDisconnectReq, c.leg.plci));
    EXPECT_EQ(h.expect(Command::Disconnect, Subcommand::Conf).word(12), 0u);
    EXPECT_EQ(h.expect(Command::DisconnectB3, Subcommand::Ind).address(), c.leg.ncci);
    auto ind = h.expect(Command::Disconnect, Subcommand::Ind);
    EXPECT_EQ(ind.word(12), 0x3490u);
    h.putOk(h.relay.disconnectB3Resp(c.leg.ncci));
    h.putOk(h.relay.disconnectResp(ind.header.messageNumber, ind.address()));
    EXPECT_TRUE(h.line.accounting().idle());
    EXPECT_TRUE(h.clean()) << h.violations();
}

TEST(Clearing, PartyHangingUpClearsB3ThenTheCallWithNormalClearing) {
    PartyBehaviour behaviour;
    behaviour.hangUpAfter = 1s;
    Connected c(behaviour);
    auto& h = c.h;
    h.advance(1s);
    for (int block = 0; block < 3; ++block) {
        auto data = h.expect(Command::DataB3, Subcommand::Ind);
        h.putOk(h.relay.dataB3Resp(capi::DataB3RespNumber::OnReceipt, c.leg.ncci, data.word(18)));
    }
    EXPECT_EQ(h.expect(Command::DisconnectB3, Subcommand::Ind).address(), c.leg.ncci);
    auto ind = h.expect(Command::Disconnect, Subcommand::Ind);
    EXPECT_EQ(ind.address(), c.leg.plci);
    EXPECT_EQ(ind.word(12), 0x3490u);
    h.putOk(h.relay.disconnectB3Resp(c.leg.ncci));
    h.putOk(h.relay.disconnectResp(ind.header.messageNumber, ind.address()));
    EXPECT_TRUE(h.line.accounting().idle());
    EXPECT_TRUE(h.clean()) << h.violations();
    EXPECT_EQ(h.line.partyRecord(c.mobile).hangUps, 1u);
}

// The release frees a block's buffer, so the block needs no response; the
// unanswered DISCONNECT_B3_IND is the application's fault.
TEST(Clearing, ReleaseClosesBlocksButNotTheOtherIndications) {
    Connected c;
    auto& h = c.h;
    h.advance(256ms);
    h.line.hangUpNow(c.mobile);
    h.expect(Command::DataB3, Subcommand::Ind);
    h.expect(Command::DisconnectB3, Subcommand::Ind);
    auto ind = h.expect(Command::Disconnect, Subcommand::Ind);
    h.putOk(h.relay.disconnectResp(ind.header.messageNumber, ind.address()));

    auto accounting = h.line.accounting();
    EXPECT_TRUE(accounting.idle());
    ASSERT_EQ(accounting.neverAnswered.size(), 1u);
    EXPECT_EQ(accounting.neverAnswered[0].command, 0x84) << "the DISCONNECT_B3_IND";
    EXPECT_EQ(accounting.indicationsClosedByRelease, 1u) << "the DATA_B3_IND";
    EXPECT_TRUE(accounting.unanswered.empty());
}

// The party hangs up while the application is still sending: requests that
// cross the clearing are refused as a controller refuses them, but they are
// no fault of the application.
TEST(Clearing, RequestsCrossingTheFarEndsClearingAreNoViolation) {
    Connected c;
    auto& h = c.h;
    h.line.hangUpNow(c.mobile);
    std::vector<uint8_t> block(2048);
    h.putOk(h.relay.dataB3Req(c.leg.ncci, block.data(), 2048, 300, 0));
    h.putOk(h.relay.disconnectReq(DisconnectReqNumber::SendDisconnectReq, c.leg.plci));
    h.expect(Command::DisconnectB3, Subcommand::Ind);
    h.expect(Command::Disconnect, Subcommand::Ind);
    EXPECT_EQ(h.expect(Command::DataB3, Subcommand::Conf).word(14), 0x2001u);
    EXPECT_EQ(h.expect(Command::Disconnect, Subcommand::Conf).word(12), 0x2001u);
    EXPECT_EQ(h.line.accounting().crossings, 2u);
    EXPECT_TRUE(h.line.violations().empty()) << h.violations();

    // Once the clearing has been read, the same request is a fault.
    h.putOk(h.relay.disconnectReq(DisconnectReqNumber::SendDisconnectReq, c.leg.plci));
    EXPECT_EQ(h.expect(Command::Disconnect, Subcommand::Conf).word(12), 0x2001u);
    ASSERT_EQ(h.line.violations().size(), 1u);
    EXPECT_EQ(h.line.violations()[0].kind, ViolationKind::WrongState);
}

// Over the network an indication leaves at once, and the line cannot see
// when the application read it: until the clearing is answered, a request
// into the connection crosses it.
TEST(Clearing, RemoteRequestsCrossTheClearingUntilItIsAnswered) {
    LineConfig config;
    config.indicationsLeaveAtOnce = true;
    LineHarness h(config);
    PartyId mobile = h.line.addParty("0171");
    h.listen();
    Leg leg = h.answerCallFrom(mobile);
    h.line.hangUpNow(mobile);
    h.expect(Command::DisconnectB3, Subcommand::Ind);
    std::vector<uint8_t> block(2048);
    h.expect(Command::Disconnect, Subcommand::Ind);
    h.putOk(h.relay.dataB3Req(leg.ncci, block.data(), 2048, 300, 0));
    EXPECT_EQ(h.expect(Command::DataB3, Subcommand::Conf).word(14), 0x2001u);
    EXPECT_EQ(h.line.accounting().crossings, 1u);
    EXPECT_TRUE(h.line.violations().empty()) << h.violations();

    h.putOk(h.relay.disconnectB3Resp(leg.ncci));
    h.putOk(h.relay.disconnectB3Req(DisconnectB3ReqNumber::First, leg.ncci));
    h.expect(Command::DisconnectB3, Subcommand::Conf);
    EXPECT_EQ(h.line.violations().size(), 1u) << "the NCCI is gone once answered";
}

TEST(Clearing, ReleaseEndsEveryConnectionOfTheApplication) {
    Connected c;
    auto& h = c.h;
    h.putOk(h.relay.connectReqSeizure(kOwnNumber));
    h.expect(Command::Connect, Subcommand::Conf);
    h.advance(1s);
    EXPECT_EQ(h.driver.release(h.appl), 0u);

    auto accounting = h.line.accounting();
    EXPECT_EQ(accounting.applications, 0u);
    EXPECT_TRUE(accounting.idle());
    EXPECT_EQ(accounting.busyChannels, 0u);
    EXPECT_TRUE(accounting.unanswered.empty());
    EXPECT_GT(accounting.indicationsDiscardedByRelease, 0u);
    EXPECT_EQ(h.driver.heldBlocks(), 0u);
    EXPECT_TRUE(h.line.partyRecord(c.mobile).heard(PartyEvent::ClearedByPc));
    h.advance(1min);
    EXPECT_FALSE(h.line.nextEventTime()) << "no audio or timers left";

    // A new registration starts from nothing, and the party can call again.
    uint32_t appl = 0;
    ASSERT_EQ(h.driver.registerApplication(capi::RegisterParams{}, appl), 0u);
    h.appl = appl;
    h.relay.setApplId(static_cast<uint16_t>(appl));
    h.expectNothing();
    h.listen();
    h.answerCallFrom(c.mobile);
    EXPECT_TRUE(h.line.violations().empty()) << h.violations();
}

}  // namespace
}  // namespace tellmaro::exchange::test
