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
    using Fill = std::function<MessageTemplates::Bytes(MessageTemplates&)>;
    LayoutCase(std::string n, Fill f, std::vector<uint8_t> e) : name(n), fill(f), expected(e) {}
    LayoutCase(std::string n, Fill f, const char* hex) : LayoutCase(n, f, hexBytes(hex)) {}
    std::string name;
    Fill fill;
    std::vector<uint8_t> expected;
};

// A template call, its text naming the case, and the bytes it must give.
#define LAYOUT(call, bytes) \
    LayoutCase(             \
        #call, [](MessageTemplates& t) { return t.call; }, bytes)
using DR = DisconnectReqNumber;
using DB3 = DisconnectB3ReqNumber;
using RN = DataB3RespNumber;

std::vector<LayoutCase> layoutCases() {
    return {
        LAYOUT(listenReq(ListenMask::Calls),
               "1A 00 07 02 05 80 01 00  01 00 00 00  00 00 00 00  32 00 01 04"
               "00 00 00 00  00  00"),
        LAYOUT(listenReq(ListenMask::None),
               "1A 00 07 02 05 80 01 00  01 00 00 00  00 00 00 00  00 00 00 00"
               "00 00 00 00  00  00"),
        LAYOUT(alertReq(0x4321, 0x00000101),
               "11 00 07 02 01 80 21 43  01 01 00 00  00 00 00 00 00"),
        LAYOUT(connectReqSeizure(kOwn),
               concat({hexBytes("3F 00 07 02 02 80 7B 00  01 00 00 00  10 00  01 80  16 01 83"),
                       textBytes(kOwnField),
                       hexBytes("00  00  04 01 00 01 00  00 00  00  00 00 00 00 00  00 00"
                                "00 00 00  00 00 00 00")})),
        LAYOUT(
            connectReqToNumber("01701234567000000000", kOwn),
            concat({hexBytes("53 00 07 02 02 80 7B 00  01 00 00 00  10 00  15 80"),
                    textBytes("01701234567000000000"), hexBytes("16 01 83"), textBytes(kOwnField),
                    hexBytes("00  00  04 01 00 01 00  00 00  00  00 00 00 00 00  00 00"
                             "00 00 00  00 00 00 00")})),
        LAYOUT(
            connectRespRefuse(0x1234, 0x201),
            concat({hexBytes("40 00 07 02 02 83 34 12  01 02 00 00  02 00"),
                    std::vector<uint8_t>(16, 0), hexBytes("15 80"), std::vector<uint8_t>(32, 0)})),
        LAYOUT(connectRespAnswer(0x101, kOwn),
               concat({hexBytes("3B 00 07 02 02 83 C8 00  01 01 00 00  00 00"
                                "01 01 00 01 00 00 00 00 00 00  17 80"),
                       textBytes(kOwnField), hexBytes("20"), std::vector<uint8_t>(12, 0)})),
        LAYOUT(connectActiveResp(0x101), "0C 00 07 02 03 83 82 00  01 01 00 00"),
        LAYOUT(connectB3Req(0x201), "0D 00 07 02 82 80 83 00  01 02 00 00  00"),
        LAYOUT(connectB3Resp(0x10101, 0), "0F 00 07 02 82 83 C7 00  01 01 01 00  00 00  00"),
        LAYOUT(connectB3Resp(0x10101, 5), "0F 00 07 02 82 83 C7 00  01 01 01 00  00 00  05"),
        LAYOUT(connectB3ActiveResp(0x10101), "0C 00 07 02 83 83 84 00  01 01 01 00"),
        LAYOUT(infoReqKeypad(0x201), "11 00 07 02 08 80 A0 00  01 02 00 00  00  03  00  01 30"),
        LAYOUT(facilityReqDtmfListen(0x10101),
               "17 00 07 02 80 80 86 00  01 01 01 00  01 00  09  01 00  28 00  28 00 00 00"),
        LAYOUT(facilityResp(0x10101), "11 00 07 02 80 83 87 00  01 01 01 00  01 00  00 00 00"),
        LAYOUT(disconnectReq(DR::SendDisconnectReq, 0x201),
               "0D 00 07 02 04 80 81 00  01 02 00 00  00"),
        LAYOUT(disconnectReq(DR::AfterB3Disconnect, 0x201),
               "0D 00 07 02 04 80 A0 00  01 02 00 00  00"),
        LAYOUT(disconnectResp(0x0815, 0x101), "0C 00 07 02 04 83 15 08  01 01 00 00"),
        LAYOUT(disconnectB3Req(DB3::First, 0x10101), "0D 00 07 02 84 80 8F 00  01 01 01 00  00"),
        LAYOUT(disconnectB3Req(DB3::Second, 0x10201), "0D 00 07 02 84 80 90 00  01 02 01 00  00"),
        LAYOUT(disconnectB3Req(DB3::AfterB3Disconnect, 0x10101),
               "0D 00 07 02 84 80 96 00  01 01 01 00  00"),
        LAYOUT(disconnectB3Resp(0x10101), "0C 00 07 02 84 83 85 00  01 01 01 00"),
        LAYOUT(dataB3Resp(RN::OnReceipt, 0x10101, 7),
               "0E 00 07 02 86 83 87 00  01 01 01 00  07 00"),
        LAYOUT(dataB3Resp(RN::AfterConfirmation, 0x10101, 3),
               "0E 00 07 02 86 83 8E 00  01 01 01 00  03 00"),
        LAYOUT(dataB3Resp(RN::Flush, 0x10101, 0), "0E 00 07 02 86 83 C3 00  01 01 01 00  00 00"),
        LAYOUT(resetB3Req(0x10101), "0D 00 07 02 87 80 00 00  01 01 01 00  00"),
        LAYOUT(resetB3Resp(0x10101), "0C 00 07 02 87 83 B4 00  01 01 01 00"),
    };
}

// Templates are persistent: refilled after other uses, they keep nothing of them.
TEST(MessageTemplates, EveryMessageMatchesItsLayoutTableFreshAndRefilled) {
    MessageTemplates templates;
    templates.setApplId(kAppl);
    const auto cases = layoutCases();
    for (bool refilled : {false, true}) {
        for (auto it = cases.rbegin(); refilled && it != cases.rend(); ++it) {
            it->fill(templates);
        }
        for (const auto& c : cases) {
            SCOPED_TRACE(c.name + (refilled ? " refilled" : ""));
            auto bytes = c.fill(templates);
            EXPECT_BYTES_EQ(c.expected, bytes) << describeMessage(bytes);
        }
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
