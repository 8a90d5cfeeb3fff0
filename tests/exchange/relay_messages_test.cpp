// The relay's 21 messages, byte for byte from its templates, are accepted in
// the states it sends them in: a whole relayed call without one violation.
#include <gtest/gtest.h>

#include <set>

#include "line_harness.h"

namespace tellmaro::exchange::test {
namespace {

using capi::DataB3RespNumber;
using capi::DisconnectB3ReqNumber;
using capi::DisconnectReqNumber;

TEST(RelayMessages, EveryTemplateIsAcceptedInItsState) {
    LineHarness h;
    std::set<std::string> kinds;  // what the relay put, by name and length
    h.line.setTraceHook([&](const TraceEntry& e) {
        if (e.direction == TraceDirection::ToController) {
            kinds.insert(e.text.substr(0, e.text.find(' ')) + std::to_string(e.message.size()));
        }
    });
    PartyId mobile = h.line.addParty("01711234567");
    PartyBehaviour aliceAnswers;
    aliceAnswers.answerAfter = 1s;
    PartyId alice = h.line.addParty("0301234567", aliceAnswers);
    PartyId stranger = h.line.addParty("0899");

    h.listen();
    h.line.callPcNow(mobile);
    auto connectInd = h.expect(Command::Connect, Subcommand::Ind);
    uint32_t mobilePlci = connectInd.address();
    h.putOk(h.relay.alertReq(connectInd.header.messageNumber, mobilePlci));
    h.expect(Command::Alert, Subcommand::Conf);
    h.putOk(h.relay.connectReqSeizure(kOwnNumber));
    uint32_t seizedPlci = h.expect(Command::Connect, Subcommand::Conf).address();
    h.putOk(h.relay.infoReqKeypad(seizedPlci));
    h.expect(Command::Info, Subcommand::Conf);

    h.putOk(h.relay.connectRespAnswer(mobilePlci, kOwnNumber));
    h.expect(Command::ConnectActive, Subcommand::Ind);
    h.putOk(h.relay.connectActiveResp(mobilePlci));
    auto b3Ind = h.expect(Command::ConnectB3, Subcommand::Ind);
    uint32_t mobileNcci = b3Ind.address();
    h.putOk(h.relay.connectB3Resp(mobileNcci, static_cast<uint8_t>(b3Ind.word(12))));
    h.expect(Command::ConnectB3Active, Subcommand::Ind);
    h.putOk(h.relay.connectB3ActiveResp(mobileNcci));
    h.putOk(h.relay.facilityReqDtmfListen(mobileNcci));
    h.expect(Command::Facility, Subcommand::Conf);

    // A prompt block for the received one, then the received one answered.
    h.advance(256ms);
    auto block = h.expect(Command::DataB3, Subcommand::Ind);
    std::vector<uint8_t> prompt(2048, 0x55);
    h.putOk(h.relay.dataB3Req(mobileNcci, prompt.data(), 2048, block.word(18), 0));
    h.expect(Command::DataB3, Subcommand::Conf);
    h.putOk(h.relay.dataB3Resp(DataB3RespNumber::AfterConfirmation, mobileNcci, block.word(18)));

    h.line.pressKeysNow(mobile, "0301234567#");
    auto keys = h.expect(Command::Facility, Subcommand::Ind);
    h.putOk(h.relay.facilityResp(keys.address()));

    // A second caller meanwhile is refused.
    h.line.callPcNow(stranger);
    auto waiting = h.expect(Command::Connect, Subcommand::Ind);
    h.putOk(h.relay.connectRespRefuse(waiting.header.messageNumber, waiting.address()));
    auto waitingCleared = h.expect(Command::Disconnect, Subcommand::Ind);
    h.putOk(h.relay.disconnectResp(waitingCleared.header.messageNumber, waitingCleared.address()));

    // The seizure is released, then the dialled number called.
    h.putOk(h.relay.disconnectReq(DisconnectReqNumber::SendDisconnectReq, seizedPlci));
    h.expect(Command::Disconnect, Subcommand::Conf);
    auto seizureCleared = h.expect(Command::Disconnect, Subcommand::Ind);
    h.putOk(h.relay.disconnectResp(seizureCleared.header.messageNumber, seizedPlci));
    h.putOk(h.relay.connectReqToNumber("0301234567", kOwnNumber));
    uint32_t alicePlci = h.expect(Command::Connect, Subcommand::Conf).address();
    h.advance(1s);
    h.expectAfterAudio(Command::ConnectActive, Subcommand::Ind);
    h.putOk(h.relay.connectActiveResp(alicePlci));
    h.putOk(h.relay.connectB3Req(alicePlci));
    uint32_t aliceNcci = h.expect(Command::ConnectB3, Subcommand::Conf).address();
    h.expect(Command::ConnectB3Active, Subcommand::Ind);
    h.putOk(h.relay.connectB3ActiveResp(aliceNcci));
    h.putOk(h.relay.resetB3Req(mobileNcci));
    h.expect(Command::ResetB3, Subcommand::Conf);
    h.expect(Command::ResetB3, Subcommand::Ind);
    h.putOk(h.relay.resetB3Resp(mobileNcci));

    // Teardown: the outgoing leg's B3, then both calls.
    h.putOk(h.relay.disconnectB3Req(DisconnectB3ReqNumber::First, aliceNcci));
    h.expect(Command::DisconnectB3, Subcommand::Conf);
    h.expectAfterAudio(Command::DisconnectB3, Subcommand::Ind);
    h.putOk(h.relay.disconnectB3Resp(aliceNcci));
    h.hangUp({alicePlci, 0});
    h.hangUp({mobilePlci, mobileNcci});
    h.putOk(h.relay.listenReq(capi::ListenMask::None));
    h.expect(Command::Listen, Subcommand::Conf);

    EXPECT_TRUE(h.line.violations().empty()) << h.violations();
    EXPECT_TRUE(h.clean());
    EXPECT_TRUE(h.line.accounting().idle());
    EXPECT_EQ(h.line.accounting().crossings, 0u);
    EXPECT_EQ(kinds.size(), 21u);
    EXPECT_EQ(h.line.partyRecord(alice).callsFromPc, 1u);
    EXPECT_EQ(h.line.partyRecord(mobile).received.size(), 1u);
}

}  // namespace
}  // namespace tellmaro::exchange::test
