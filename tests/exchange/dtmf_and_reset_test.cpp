// DTMF detection on a B3 connection and the reset of a B3 connection.
#include <gtest/gtest.h>

#include "line_harness.h"

namespace tellmaro::exchange::test {
namespace {

std::string keysOf(const Received& ind) {
    // NCCI, selector 1, then the structure of characters.
    EXPECT_EQ(ind.word(12), 1u);
    if (ind.bytes.size() < 15 || ind.bytes.size() < 15u + ind.bytes[14]) {
        ADD_FAILURE() << "no keys in " << ind.text();
        return "";
    }
    return std::string(ind.bytes.begin() + 15, ind.bytes.begin() + 15 + ind.bytes[14]);
}

TEST(Dtmf, KeysArriveAsScriptedOnceDetectionIsOn) {
    LineHarness h;
    PartyBehaviour behaviour;
    behaviour.keys = {{100ms, "9"}, {1s, "1"}, {2s, "23#"}};
    PartyId mobile = h.line.addParty("0171", behaviour);
    h.listen();
    Leg leg = h.answerCallFrom(mobile);
    h.advance(100ms);  // pressed before anybody listens
    h.putOk(h.relay.facilityReqDtmfListen(leg.ncci));
    auto conf = h.expect(Command::Facility, Subcommand::Conf);
    ASSERT_EQ(conf.bytes.size(), 19u);
    EXPECT_EQ(
        std::vector<uint8_t>(conf.bytes.begin() + 8, conf.bytes.end()),
        (std::vector<uint8_t>{uint8_t(leg.ncci), uint8_t(leg.ncci >> 8), uint8_t(leg.ncci >> 16),
                              uint8_t(leg.ncci >> 24), 0, 0, 1, 0, 2, 0, 0}));

    h.advance(900ms);
    h.expect(Command::DataB3, Subcommand::Ind);
    h.putOk(h.relay.dataB3Resp(capi::DataB3RespNumber::OnReceipt, leg.ncci, 0));
    std::vector<std::string> keys;
    for (int i = 0; i < 12; ++i) {
        h.advance(100ms);
        while (auto ind = h.get()) {
            if (ind->header.is(Command::Facility, Subcommand::Ind)) {
                keys.push_back(keysOf(*ind));
                h.putOk(h.relay.facilityResp(ind->address()));
            } else {
                h.putOk(h.relay.dataB3Resp(capi::DataB3RespNumber::OnReceipt, ind->address(),
                                           ind->word(18)));
            }
        }
    }
    h.line.pressKeysNow(mobile, "*");
    keys.push_back(keysOf(h.expect(Command::Facility, Subcommand::Ind)));

    EXPECT_EQ(keys, (std::vector<std::string>{"1", "23#", "*"}));
    const auto& record = h.line.partyRecord(mobile);
    EXPECT_EQ(record.keysPressed, "9123#*");
    EXPECT_EQ(record.keysUnheard, "9");
    EXPECT_EQ(record.keysDelivered, "123#*");
    EXPECT_TRUE(h.line.violations().empty()) << h.violations();
}

TEST(Dtmf, UnknownFunctionAndSelectorAreRefused) {
    LineHarness h;
    PartyId mobile = h.line.addParty("0171");
    h.listen();
    Leg leg = h.answerCallFrom(mobile);
    auto request = h.relay.facilityReqDtmfListen(leg.ncci);
    std::vector<uint8_t> message(request.begin(), request.end());

    message[15] = 7;  // function 7
    h.putOk(message);
    auto conf = h.expect(Command::Facility, Subcommand::Conf);
    EXPECT_EQ(conf.word(12), 0u);
    EXPECT_EQ(conf.word(17), 2u) << "DTMF info: unknown request";

    message[12] = 5;  // selector 5
    h.putOk(message);
    EXPECT_EQ(h.expect(Command::Facility, Subcommand::Conf).word(12), 0x300Bu);
    ASSERT_EQ(h.line.violations().size(), 2u);
    EXPECT_EQ(h.line.violations()[1].kind, ViolationKind::Unsupported);
}

TEST(ResetB3, IsConfirmedAndThenIndicated) {
    LineHarness h;
    PartyId mobile = h.line.addParty("0171");
    h.listen();
    Leg leg = h.answerCallFrom(mobile);
    h.putOk(h.relay.resetB3Req(leg.ncci));
    auto conf = h.expect(Command::ResetB3, Subcommand::Conf);
    EXPECT_EQ(conf.address(), leg.ncci);
    EXPECT_EQ(conf.word(12), 0u);
    EXPECT_EQ(h.expect(Command::ResetB3, Subcommand::Ind).address(), leg.ncci);
    h.putOk(h.relay.resetB3Resp(leg.ncci));
    EXPECT_TRUE(h.clean()) << h.violations();
}

}  // namespace
}  // namespace tellmaro::exchange::test
