// Remote CAPI framing against the bytes libcapi20's rcapi module sends and expects; the
// server meets the real library in console_program_tests and, woken by the SIP network's
// descriptor, in sip_relay_tests.
#include <gtest/gtest.h>

#include "exchange/rcapi/rcapi_frame.h"
#include "support/byte_compare.h"

namespace tellmaro::exchange {
namespace {

TEST(RcapiFrame, ReadsRequestsFromAnyPiecesAndAnswersInKind) {
    // capi20_register(2, 7, 2048, ...) with its version word cut short, a profile request, and a
    // DATA_B3_REQ in the 64-bit layout with its block.
    auto registration =
        test::hexBytes("00 17  00 00 00 00 F2 FF 00 00 00 00 00 00  00 08 02 00 07 00 00 08 02");
    auto profile = test::hexBytes("00 0E  00 00 00 00 E0 FF 00 00 01 00 00 00");
    auto dataReq = test::hexBytes(
        "1E 00 01 00 86 80 8D 00  01 01 01 00  00 00 00 00  00 08 09 01"
        "00 00  A0 30 47 B8 B9 55 00 00");
    std::vector<uint8_t> block(2048, 0x5A);
    rcapi::FrameReader reader;
    std::vector<rcapi::Request> requests;
    for (uint8_t byte :
         test::concat({registration, profile, test::hexBytes("08 20"), dataReq, block})) {
        reader.append(std::span<const uint8_t>(&byte, 1));
        while (auto body = reader.next()) {
            auto parsed = rcapi::parseRequest(*body);
            ASSERT_TRUE(parsed.request) << parsed.error;
            requests.push_back(*parsed.request);
        }
    }
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_FALSE(reader.failed() || reader.hasPartialFrame());
    const auto& p = std::get<rcapi::SpecialRequest>(requests[0]).registerParams;
    EXPECT_EQ(std::vector<uint32_t>(
                  {p.messageBufferSize, p.maxLogicalConnections, p.maxB3Blocks, p.maxB3BlockSize}),
              std::vector<uint32_t>({2048, 2, 7, 2048}));
    const auto& profileRequest = std::get<rcapi::SpecialRequest>(requests[1]);
    EXPECT_EQ(profileRequest.controller, 1u);
    EXPECT_BYTES_EQ(dataReq, std::get<rcapi::MessageRequest>(requests[2]).message);
    EXPECT_BYTES_EQ(block, std::get<rcapi::MessageRequest>(requests[2]).data);

    for (const char* length : {"00 01", "10 01"}) {
        rcapi::FrameReader broken;
        broken.append(test::hexBytes(length));
        EXPECT_FALSE(broken.next().has_value() || !broken.failed()) << length;
    }
    for (const char* bad : {"0C 00 01 00", "20 00 01 00 05 80 01 00 01 00 00 00",
                            "00 00 00 00 AB FF 00 00 01 00 00 00"}) {
        EXPECT_FALSE(rcapi::parseRequest(test::hexBytes(bad)).request) << bad;
    }

    std::vector<uint8_t> profileBytes(64, 1);
    EXPECT_BYTES_EQ(
        test::concat({test::hexBytes("00 4C  00 00 00 00 E1 FF 00 00  00 00"), profileBytes}),
        rcapi::profileAnswer(profileRequest, 0, profileBytes));
    EXPECT_BYTES_EQ(test::hexBytes("00 1B  00 00 00 00 FD FF 00 00  00 02 00 00  00 00 00 00"
                                   "00 01 00 00  00 07 00 00 00"),
                    rcapi::versionAnswer(profileRequest, capi::CapiVersion{2, 0, 1, 7}));
}

}  // namespace
}  // namespace tellmaro::exchange
