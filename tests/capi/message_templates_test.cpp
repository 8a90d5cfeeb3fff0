// Every message the relay sends, byte for byte against its layout table.
#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "capi/message_templates.h"
#include "capi/message_trace.h"
#include "support/byte_compare.h"

namespace tellmaro::capi {
namespace {

using test::concat;
using test::hexBytes;
using test::textBytes;

constexpr uint16_t kAppl = 0x0207;  // both bytes placed
const std::string kOwn = "123";     // sent as 123 and seventeen "0"
const std::string kOwnField = "12300000000000000000";

struct LayoutCase {
    std::string name;
    std::function<MessageTemplates::Bytes(MessageTemplates&)> fill;
    std::vector<uint8_t> expected;
};

std::vector<LayoutCase> layoutCases() {
    return {
        {"LISTEN_REQ listening", [](auto& t) { return t.listenReq(ListenMask::Calls); },
         hexBytes("1A 00 07 02 05 80 01 00  01 00 00 00  00 00 00 00  32 00 01 04"
                  "00 00 00 00  00  00")},
        {"LISTEN_REQ stop", [](auto& t) { return t.listenReq(ListenMask::None); },
         hexBytes("1A 00 07 02 05 80 01 00  01 00 00 00  00 00 00 00  00 00 00 00"
                  "00 00 00 00  00  00")},
        {"ALERT_REQ", [](auto& t) { return t.alertReq(0x4321, 0x00000101); },
         hexBytes("11 00 07 02 01 80 21 43  01 01 00 00  00 00 00 00 00")},
        {"CONNECT_REQ seizure", [](auto& t) { return t.connectReqSeizure(kOwn); },
         concat({hexBytes("3F 00 07 02 02 80 7B 00  01 00 00 00  10 00  01 80  16 01 83"),
                 textBytes(kOwnField),
                 hexBytes("00  00  04 01 00 01 00  00 00  00  00 00 00 00 00  00 00"
                          "00 00 00  00 00 00 00")})},
        {"CONNECT_REQ to a number",
         [](auto& t) { return t.connectReqToNumber("01701234567000000000", kOwn); },
         concat({hexBytes("53 00 07 02 02 80 7B 00  01 00 00 00  10 00  15 80"),
                 textBytes("01701234567000000000"), hexBytes("16 01 83"), textBytes(kOwnField),
                 hexBytes("00  00  04 01 00 01 00  00 00  00  00 00 00 00 00  00 00"
                          "00 00 00  00 00 00 00")})},
        {"CONNECT_RESP refusing", [](auto& t) { return t.connectRespRefuse(0x1234, 0x201); },
         concat({hexBytes("40 00 07 02 02 83 34 12  01 02 00 00  02 00"),
                 std::vector<uint8_t>(16, 0), hexBytes("15 80"), std::vector<uint8_t>(32, 0)})},
        {"CONNECT_RESP answering", [](auto& t) { return t.connectRespAnswer(0x101, kOwn); },
         concat({hexBytes("3B 00 07 02 02 83 C8 00  01 01 00 00  00 00"
                          "01 01 00 01 00 00 00 00 00 00  17 80"),
                 textBytes(kOwnField), hexBytes("20"), std::vector<uint8_t>(12, 0)})},
        {"CONNECT_ACTIVE_RESP", [](auto& t) { return t.connectActiveResp(0x101); },
         hexBytes("0C 00 07 02 03 83 82 00  01 01 00 00")},
        {"CONNECT_B3_REQ", [](auto& t) { return t.connectB3Req(0x201); },
         hexBytes("0D 00 07 02 82 80 83 00  01 02 00 00  00")},
        {"CONNECT_B3_RESP", [](auto& t) { return t.connectB3Resp(0x10101, 0); },
         hexBytes("0F 00 07 02 82 83 C7 00  01 01 01 00  00 00  00")},
        {"CONNECT_B3_RESP echoing an NCPI length",
         [](auto& t) { return t.connectB3Resp(0x10101, 5); },
         hexBytes("0F 00 07 02 82 83 C7 00  01 01 01 00  00 00  05")},
        {"CONNECT_B3_ACTIVE_RESP", [](auto& t) { return t.connectB3ActiveResp(0x10101); },
         hexBytes("0C 00 07 02 83 83 84 00  01 01 01 00")},
        {"INFO_REQ keypad", [](auto& t) { return t.infoReqKeypad(0x201); },
         hexBytes("11 00 07 02 08 80 A0 00  01 02 00 00  00  03  00  01 30")},
        {"FACILITY_REQ DTMF listen", [](auto& t) { return t.facilityReqDtmfListen(0x10101); },
         hexBytes("17 00 07 02 80 80 86 00  01 01 01 00  01 00  09  01 00  28 00  28 00"
                  "00 00")},
        {"FACILITY_RESP", [](auto& t) { return t.facilityResp(0x10101); },
         hexBytes("11 00 07 02 80 83 87 00  01 01 01 00  01 00  00 00 00")},
        {"DISCONNECT_REQ from sendDisconnectReq",
         [](auto& t) { return t.disconnectReq(DisconnectReqNumber::SendDisconnectReq, 0x201); },
         hexBytes("0D 00 07 02 04 80 81 00  01 02 00 00  00")},
        {"DISCONNECT_REQ after a B3 disconnect",
         [](auto& t) { return t.disconnectReq(DisconnectReqNumber::AfterB3Disconnect, 0x201); },
         hexBytes("0D 00 07 02 04 80 A0 00  01 02 00 00  00")},
        {"DISCONNECT_RESP", [](auto& t) { return t.disconnectResp(0x0815, 0x101); },
         hexBytes("0C 00 07 02 04 83 15 08  01 01 00 00")},
        {"DISCONNECT_B3_REQ first",
         [](auto& t) { return t.disconnectB3Req(DisconnectB3ReqNumber::First, 0x10101); },
         hexBytes("0D 00 07 02 84 80 8F 00  01 01 01 00  00")},
        {"DISCONNECT_B3_REQ second",
         [](auto& t) { return t.disconnectB3Req(DisconnectB3ReqNumber::Second, 0x10201); },
         hexBytes("0D 00 07 02 84 80 90 00  01 02 01 00  00")},
        {"DISCONNECT_B3_REQ after a B3 disconnect",
         [](auto& t) {
             return t.disconnectB3Req(DisconnectB3ReqNumber::AfterB3Disconnect, 0x10101);
         },
         hexBytes("0D 00 07 02 84 80 96 00  01 01 01 00  00")},
        {"DISCONNECT_B3_RESP", [](auto& t) { return t.disconnectB3Resp(0x10101); },
         hexBytes("0C 00 07 02 84 83 85 00  01 01 01 00")},
        {"DATA_B3_RESP on receipt",
         [](auto& t) { return t.dataB3Resp(DataB3RespNumber::OnReceipt, 0x10101, 7); },
         hexBytes("0E 00 07 02 86 83 87 00  01 01 01 00  07 00")},
        {"DATA_B3_RESP after confirmation",
         [](auto& t) { return t.dataB3Resp(DataB3RespNumber::AfterConfirmation, 0x10101, 3); },
         hexBytes("0E 00 07 02 86 83 8E 00  01 01 01 00  03 00")},
        {"DATA_B3_RESP flush",
         [](auto& t) { return t.dataB3Resp(DataB3RespNumber::Flush, 0x10101, 0); },
         hexBytes("0E 00 07 02 86 83 C3 00  01 01 01 00  00 00")},
        {"RESET_B3_REQ", [](auto& t) { return t.resetB3Req(0x10101); },
         hexBytes("0D 00 07 02 87 80 00 00  01 01 01 00  00")},
        {"RESET_B3_RESP", [](auto& t) { return t.resetB3Resp(0x10101); },
         hexBytes("0C 00 07 02 87 83 B4 00  01 01 01 00")},
    };
}

TEST(MessageTemplates, EveryMessageMatchesItsLayoutTable) {
    MessageTemplates templates;
    templates.setApplId(kAppl);
    for (const auto& c : layoutCases()) {
        SCOPED_TRACE(c.name);
        auto bytes = c.fill(templates);
        EXPECT_BYTES_EQ(c.expected, bytes) << describeMessage(bytes);
    }
}

// The templates are persistent: filling one in a different order or after
// other uses must not leave anything of the earlier use behind.
TEST(MessageTemplates, RefillingGivesTheSameBytesAsAFreshTemplate) {
    MessageTemplates used;
    used.setApplId(kAppl);
    auto cases = layoutCases();
    for (auto it = cases.rbegin(); it != cases.rend(); ++it) {
        it->fill(used);
    }
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_BYTES_EQ(c.expected, c.fill(used));
    }
}

TEST(MessageTemplates, DataB3ReqCarriesThePointerInTheHostLayout) {
    MessageTemplates templates;
    templates.setApplId(kAppl);
    std::vector<uint8_t> block(2048, 0x55);
    auto bytes = templates.dataB3Req(0x10201, block.data(), 2048, 259, 4);
    auto pointer = reinterpret_cast<uintptr_t>(block.data());
    std::vector<uint8_t> pointerBytes;
    for (size_t i = 0; i < sizeof(void*); ++i) {
        pointerBytes.push_back(static_cast<uint8_t>(pointer >> (8 * i)));
    }
    const auto tail = hexBytes("00 08  03 01  04 00");  // DataLength, DataHandle, Flags
    EXPECT_BYTES_EQ(
        sizeof(void*) == 8
            ? concat({hexBytes("1E 00 07 02 86 80 8D 00  01 02 01 00  00 00 00 00"), tail,
                      pointerBytes})
            : concat({hexBytes("16 00 07 02 86 80 8D 00  01 02 01 00"), pointerBytes, tail}),
        bytes);
}

// A shorter number after a longer one: the rest is "0", not the old digits.
TEST(MessageTemplates, NumberFieldsAreAlwaysTwentyCharacters) {
    MessageTemplates t;
    const std::array<std::string, 3> rows[] = {
        {"12345678901234567890", "09876543210987654321",
         "1234567890123456789009876543210987654321"},
        {"0711", "0711", "0711000000000000000007110000000000000000"},
        {"1234567890123456789012", "", "1234567890123456789000000000000000000000"},
    };
    for (const auto& [called, calling, fields] : rows) {
        auto m = t.connectReqToNumber(called, calling);
        EXPECT_EQ(std::string(m.begin() + 16, m.begin() + 36) +
                      std::string(m.begin() + 39, m.begin() + 59),
                  fields);
        EXPECT_EQ(m.size(), 83u);
    }
}

}  // namespace
}  // namespace tellmaro::capi
