// Parameter records of received messages: what is copied, and what never is.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "capi/message_templates.h"
#include "capi/parameter_records.h"
#include "support/byte_compare.h"

namespace tellmaro::capi {
namespace {

using test::concat;
using test::hexBytes;

// A message with this Length field and these parameter bytes, which need not agree.
std::vector<uint8_t> message(uint16_t length, uint8_t command, uint8_t subcommand,
                             std::vector<uint8_t> params) {
    return concat({{static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8), 1, 0, command,
                    subcommand, 9, 0},
                   params});
}

// DATA_B3_IND's block pointer: Data in the 32-bit layout, Data64 in the 64-bit one.
TEST(ParameterRecords, CopiesTheParametersAndReadsTheFields) {
    using Fields = std::vector<uint32_t>;
    ConnectConfParams conf;
    EXPECT_EQ(conf.fill(message(14, 0x02, 0x81, hexBytes("01 02 00 00  01 20"))), 6u);
    EXPECT_EQ(Fields({conf.plci(), conf.info()}), Fields({0x201, 0x2001}));
    DisconnectIndParams disconnect;
    disconnect.fill(message(14, 0x04, 0x82, hexBytes("01 01 00 00  91 34")));
    EXPECT_EQ(Fields({disconnect.plci(), disconnect.reason()}), Fields({0x101, 0x3491}));
    DataB3ConfParams dataConf;
    dataConf.fill(message(16, 0x86, 0x81, hexBytes("01 02 01 00  03 01  05 00")));
    EXPECT_EQ(Fields({dataConf.ncci(), dataConf.dataHandle(), dataConf.info()}),
              Fields({0x10201, 259, 5}));
    FacilityIndParams facility;
    facility.fill(message(18, 0x80, 0x82, hexBytes("01 01 01 00  01 00  03 31 32 23")));
    EXPECT_EQ(Fields({facility.address(), facility.selector()}), Fields({0x10101, 1}));
    EXPECT_BYTES_EQ(hexBytes("03 31 32 23"), facility.parameter().first(4));

    std::vector<uint8_t> block(2048);
    auto pointer = reinterpret_cast<uintptr_t>(block.data());
    auto pointerBytes = [pointer](size_t count, bool zero) {
        std::vector<uint8_t> bytes;
        for (size_t i = 0; i < count; ++i) {
            bytes.push_back(zero ? 0 : static_cast<uint8_t>(pointer >> (8 * i)));
        }
        return bytes;
    };
    constexpr bool wide = sizeof(void*) == 8;
    DataB3IndParams ind;
    ind.fill(message(kDataB3MessageLength, 0x86, 0x82,
                     concat({hexBytes("01 01 01 00"), pointerBytes(4, wide),
                             hexBytes("00 08 05 00 00 00"), pointerBytes(wide ? 8 : 0, false)})));
    EXPECT_EQ(ind.data(), block.data());
    EXPECT_EQ(Fields({ind.dataLength(), ind.dataHandle(), ind.flags()}), Fields({2048, 5, 0}));
}

TEST(ParameterRecords, CopyNoMoreThanTheRecordHoldsNorMoreThanTheMessageHas) {
    // A CONNECT_B3_IND with a 3-byte NCPI: the record keeps NCCI and the length byte.
    ConnectB3IndParams b3;
    EXPECT_EQ(b3.fill(message(16, 0x82, 0x82, hexBytes("01 01 01 00  03 AA BB CC"))), 5u);
    EXPECT_EQ(b3.ncci(), 0x10101u);
    EXPECT_EQ(b3.ncpiLength(), 3);
    // A CONNECT_IND longer than the record: cut after the raw area.
    ConnectIndParams ind;
    EXPECT_EQ(ind.fill(message(8 + 156, 0x02, 0x82, std::vector<uint8_t>(156, 0x30))),
              ConnectIndParams::kSize);

    // Length claims 30 bytes, but only 12 are there: the rest of the record reads as zero.
    DataB3IndParams data;
    EXPECT_EQ(data.fill(message(30, 0x86, 0x82, hexBytes("01 01 01 00"))), 4u);
    EXPECT_EQ(data.ncci(), 0x10101u);
    EXPECT_EQ(data.dataLength(), 0u);
    EXPECT_EQ(data.data(), nullptr);
    // A Length below the header size copies nothing.
    ConnectConfParams conf;
    EXPECT_EQ(conf.fill(message(4, 0x02, 0x81, hexBytes("01 02 00 00 00 00"))), 0u);
    EXPECT_EQ(conf.plci(), 0u);
    EXPECT_EQ(conf.fill(std::vector<uint8_t>{0x0C, 0x00, 1}), 0u);
}

TEST(ParameterRecords, ARefillLeavesNothingOfTheEarlierMessage) {
    ConnectIndParams ind;
    ind.fill(message(8 + 6 + 20, 0x02, 0x82,
                     concat({hexBytes("01 01 00 00 10 00"), std::vector<uint8_t>(20, 0x39)})));
    ind.fill(message(8 + 6 + 2, 0x02, 0x82, hexBytes("02 01 00 00 10 00 00 00")));
    EXPECT_EQ(ind.plci(), 0x102u);
    EXPECT_TRUE(std::ranges::all_of(ind.numbers(), [](uint8_t b) { return b == 0; }));
}

}  // namespace
}  // namespace tellmaro::capi
