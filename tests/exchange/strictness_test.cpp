// Messages a real controller refuses are refused the same way and recorded
// as violations; the checks reach into every structure of a message.
#include <gtest/gtest.h>

#include <functional>

#include "capi/byte_order.h"
#include "line_harness.h"

namespace tellmaro::exchange::test {
namespace {

using Bytes = std::vector<uint8_t>;
using capi::DisconnectReqNumber;

Bytes bytesOf(std::span<const uint8_t> message) {
    return {message.begin(), message.end()};
}

Bytes withLength(Bytes message, uint16_t length) {
    capi::writeU16(message, 0, length);
    return message;
}

Bytes patched(Bytes message, size_t offset, std::initializer_list<uint8_t> values) {
    std::copy(values.begin(), values.end(), message.begin() + static_cast<ptrdiff_t>(offset));
    return message;
}

struct Case {
    const char* name;
    std::function<Bytes(LineHarness&, const Leg&)> message;
    uint32_t putResult;
    std::optional<uint16_t> confirmedWith;  // none: refused by put, or an ignored response
    ViolationKind kind;
};

const Case kCases[] = {
    {"message shorter than a header",
     [](auto&, auto&) { return Bytes{7, 0, 1, 0, 5, 0x80, 0}; },
     0x1102,
     {},
     ViolationKind::MalformedMessage},
    {"Length below 12",
     [](auto& h, auto&) {
         return withLength(bytesOf(h.relay.listenReq(capi::ListenMask::Calls)), 11);
     },
     0x1102,
     {},
     ViolationKind::MalformedMessage},
    {"Length beyond the bytes given",
     [](auto& h, auto& leg) {
         Bytes m = bytesOf(h.relay.connectActiveResp(leg.plci));
         return withLength(m, 20);
     },
     0x1102,
     {},
     ViolationKind::MalformedMessage},
    {"unknown command",
     [](auto& h, auto& leg) {
         return patched(bytesOf(h.relay.connectActiveResp(leg.plci)), 4, {0x42});
     },
     0x1102,
     {},
     ViolationKind::MalformedMessage},
    {"a confirmation sent by the application",
     [](auto& h, auto& leg) {
         return patched(bytesOf(h.relay.disconnectResp(1, leg.plci)), 5, {0x81});
     },
     0x1102,
     {},
     ViolationKind::MalformedMessage},
    {"header ApplID of another application",
     [](auto& h, auto&) {
         return patched(bytesOf(h.relay.listenReq(capi::ListenMask::Calls)), 2, {9});
     },
     0x1101,
     {},
     ViolationKind::UnknownApplication},
    {"calling number overrunning the message",
     [](auto& h, auto&) {
         return patched(bytesOf(h.relay.connectReqToNumber("0401", kOwnNumber)), 36, {0x40});
     },
     0, 0x2007, ViolationKind::BadCoding},
    {"FACILITY_REQ structure claiming two bytes too many",
     [](auto& h, auto& leg) {
         return patched(bytesOf(h.relay.facilityReqDtmfListen(leg.ncci)), 14, {10});
     },
     0, 0x2007, ViolationKind::BadCoding},
    {"B protocol ending inside a word",
     [](auto& h, auto&) {
         return patched(bytesOf(h.relay.connectReqSeizure(kOwnNumber)), 41, {0x03});
     },
     0, 0x2007, ViolationKind::BadCoding},
    {"additional info element overrunning it",
     [](auto& h, auto& leg) {
         return patched(bytesOf(h.relay.infoReqKeypad(leg.plci)), 15, {0x05});
     },
     0, 0x2007, ViolationKind::BadCoding},
    {"response with a structure overrunning the message",
     [](auto& h, auto& leg) {
         return withLength(patched(bytesOf(h.relay.connectB3Resp(leg.ncci, 0)), 14, {3}), 15);
     },
     0,
     {},
     ViolationKind::BadCoding},
    {"B1 protocol the controller lacks",
     [](auto& h, auto&) {
         return patched(bytesOf(h.relay.connectReqSeizure(kOwnNumber)), 42, {5});
     },
     0, 0x3001, ViolationKind::Unsupported},
    {"CIP value outside CAPI 2.0",
     [](auto& h, auto&) {
         return patched(bytesOf(h.relay.connectReqSeizure(kOwnNumber)), 12, {99});
     },
     0, 0x3009, ViolationKind::Unsupported},
    {"data block longer than 2048 bytes",
     [](auto& h, auto& leg) {
         static uint8_t block[4096];
         return bytesOf(h.relay.dataB3Req(leg.ncci, block, 4096, 1, 0));
     },
     0, 0x300C, ViolationKind::Unsupported},
    {"request the line does not offer",
     [](auto&, auto& leg) {
         Bytes m = {13, 0, 1, 0, 0x41, 0x80, 1, 0, 0, 0, 0, 0, 0};
         capi::writeU32(m, 8, leg.plci);
         return m;
     },
     0, 0x2001, ViolationKind::Unsupported},
    {"ALERT_REQ for a connected call",
     [](auto& h, auto& leg) { return bytesOf(h.relay.alertReq(1, leg.plci)); }, 0, 0x2001,
     ViolationKind::WrongState},
    {"no such PLCI",
     [](auto& h, auto&) {
         return bytesOf(h.relay.disconnectReq(DisconnectReqNumber::SendDisconnectReq, 0x7701));
     },
     0, 0x2002, ViolationKind::UnknownAddress},
    {"no such NCCI",
     [](auto& h, auto& leg) { return bytesOf(h.relay.resetB3Req(leg.ncci + 0x10000)); }, 0, 0x2002,
     ViolationKind::UnknownAddress},
    {"no such controller",
     [](auto& h, auto&) {
         return patched(bytesOf(h.relay.listenReq(capi::ListenMask::Calls)), 8, {2});
     },
     0, 0x2002, ViolationKind::UnknownAddress},
    {"response to nothing outstanding",
     [](auto& h, auto& leg) { return bytesOf(h.relay.connectActiveResp(leg.plci)); },
     0,
     {},
     ViolationKind::UnexpectedResponse},
    {"DATA_B3_RESP for a block not outstanding",
     [](auto& h, auto& leg) {
         return bytesOf(h.relay.dataB3Resp(capi::DataB3RespNumber::Flush, leg.ncci, 5));
     },
     0,
     {},
     ViolationKind::UnknownDataHandle},
};

TEST(Strictness, EveryRefusalIsAnsweredAsAControllerDoesAndRecorded) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        LineHarness h;
        PartyId mobile = h.line.addParty("0171");
        h.listen();
        Leg leg = h.answerCallFrom(mobile);
        Bytes message = c.message(h, leg);

        EXPECT_EQ(h.put(message), c.putResult);
        if (c.confirmedWith) {
            auto conf = h.get();
            ASSERT_TRUE(conf);
            EXPECT_EQ(conf->header.subcommand, 0x81);
            EXPECT_EQ(conf->header.command, message[4]);
            EXPECT_EQ(conf->header.messageNumber, capi::readU16(message, 6));
            size_t info = conf->header.command == 0x86 ? 14 : 12;
            EXPECT_EQ(conf->word(info), *c.confirmedWith) << conf->text();
        }
        h.expectNothing();
        ASSERT_EQ(h.line.violations().size(), 1u) << h.violations();
        const Violation& v = h.line.violations()[0];
        EXPECT_EQ(v.kind, c.kind) << v.detail;
        EXPECT_EQ(v.answer, c.confirmedWith.value_or(c.putResult)) << v.detail;
        EXPECT_FALSE(v.message.empty());
        EXPECT_EQ(h.line.accounting().livePlcis, 1u) << "the call is untouched";
    }
}

TEST(Strictness, UnregisteredApplicationIsRefused) {
    LineHarness h;
    capi::MessageTemplates other;
    other.setApplId(42);
    EXPECT_EQ(h.driver.putMessage(42, other.listenReq(capi::ListenMask::Calls)), 0x1101u);
    std::span<const uint8_t> message;
    EXPECT_EQ(h.driver.getMessage(42, message), 0x1101u);
    ASSERT_EQ(h.line.violations().size(), 1u);
    EXPECT_EQ(h.line.violations()[0].kind, ViolationKind::UnknownApplication);
}

TEST(Strictness, ConnectionsOfAnotherApplicationAreNotReachable) {
    LineHarness h;
    PartyId mobile = h.line.addParty("0171");
    h.listen();
    Leg leg = h.answerCallFrom(mobile);
    uint32_t second = 0;
    ASSERT_EQ(h.driver.registerApplication(capi::RegisterParams{}, second), 0u);
    capi::MessageTemplates intruder;
    intruder.setApplId(static_cast<uint16_t>(second));

    EXPECT_EQ(h.driver.putMessage(
                  second, intruder.disconnectReq(DisconnectReqNumber::SendDisconnectReq, leg.plci)),
              0u);
    EXPECT_EQ(h.driver.putMessage(second, intruder.connectB3ActiveResp(leg.ncci)), 0u);
    std::span<const uint8_t> conf;
    ASSERT_EQ(h.driver.getMessage(second, conf), 0u);
    EXPECT_EQ(capi::readU16(conf, 12), 0x2002u);
    ASSERT_EQ(h.line.violations().size(), 2u);
    EXPECT_EQ(h.line.violations()[0].kind, ViolationKind::ForeignAddress);
    EXPECT_EQ(h.line.violations()[1].kind, ViolationKind::ForeignAddress);
    h.expectNothing();
    EXPECT_EQ(h.line.accounting().livePlcis, 1u);
}

// An answer a controller cannot honour clears the call with the reason.
TEST(Strictness, AnswerWithAnUnsupportedProtocolClearsTheCall) {
    LineHarness h;
    PartyId mobile = h.line.addParty("0171");
    h.listen();
    h.line.callPcNow(mobile);
    uint32_t plci = h.expect(Command::Connect, Subcommand::Ind).address();
    h.putOk(patched(bytesOf(h.relay.connectRespAnswer(plci, kOwnNumber)), 15, {0x07}));
    EXPECT_EQ(h.expect(Command::Disconnect, Subcommand::Ind).word(12), 0x3001u);
    ASSERT_EQ(h.line.violations().size(), 1u);
    EXPECT_EQ(h.line.violations()[0].kind, ViolationKind::Unsupported);
    EXPECT_TRUE(h.line.partyRecord(mobile).heard(PartyEvent::Rejected));
}

}  // namespace
}  // namespace tellmaro::exchange::test
