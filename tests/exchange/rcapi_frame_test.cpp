// Remote-CAPI framing, against the bytes libcapi20's rcapi module sends and
// expects.
#include <gtest/gtest.h>

#include "exchange/rcapi/rcapi_frame.h"
#include "support/byte_compare.h"

namespace tellmaro::exchange::rcapi {
namespace {

using test::concat;
using test::hexBytes;

// As sent by capi20_register(2, 7, 2048, ...): the version word is cut short.
const auto kRegisterFrame =
    hexBytes("00 17  00 00 00 00 F2 FF 00 00 00 00 00 00  00 08 02 00 07 00 00 08 02");
const auto kProfileFrame = hexBytes("00 0E  00 00 00 00 E0 FF 00 00 01 00 00 00");

SpecialRequest special(const std::vector<uint8_t>& frame) {
    auto parsed = parseRequest(std::span(frame).subspan(2));
    EXPECT_TRUE(parsed.request) << parsed.error;
    return parsed.request ? std::get<SpecialRequest>(*parsed.request) : SpecialRequest{};
}

TEST(RcapiFrame, ReassemblesFramesFromAnyPiecesAndRefusesImpossibleLengths) {
    auto stream = concat({kRegisterFrame, kProfileFrame});
    FrameReader reader;
    std::vector<size_t> sizes;
    for (uint8_t byte : stream) {
        reader.append(std::span<const uint8_t>(&byte, 1));
        while (auto body = reader.next()) {
            sizes.push_back(body->size());
        }
    }
    EXPECT_EQ(sizes, (std::vector<size_t>{21, 12}));
    EXPECT_FALSE(reader.failed() || reader.hasPartialFrame());
    for (const char* length : {"00 01", "10 01"}) {
        FrameReader broken;
        broken.append(hexBytes(length));
        EXPECT_FALSE(broken.next().has_value());
        EXPECT_TRUE(broken.failed()) << length;
    }
}

TEST(RcapiFrame, ParsesRegistrationQueriesAndMessages) {
    auto reg = special(kRegisterFrame);
    EXPECT_EQ(reg.command, SpecialCommand::Register);
    const auto& p = reg.registerParams;
    EXPECT_EQ(std::vector<uint32_t>(
                  {p.messageBufferSize, p.maxLogicalConnections, p.maxB3Blocks, p.maxB3BlockSize}),
              std::vector<uint32_t>({2048, 2, 7, 2048}));
    EXPECT_EQ(special(kProfileFrame).controller, 1u);

    // A DATA_B3_REQ in the 64-bit layout with its block appended.
    auto dataReq = hexBytes(
        "1E 00 01 00 86 80 8D 00 01 01 01 00 00 00 00 00 00 08 09 01 00 00"
        "A0 30 47 B8 B9 55 00 00");
    std::vector<uint8_t> block(2048, 0x5A);
    auto parsed = parseRequest(concat({dataReq, block}));
    ASSERT_TRUE(parsed.request);
    EXPECT_BYTES_EQ(dataReq, std::get<MessageRequest>(*parsed.request).message);
    EXPECT_BYTES_EQ(block, std::get<MessageRequest>(*parsed.request).data);

    for (const char* bad : {"0C 00 01 00", "20 00 01 00 05 80 01 00 01 00 00 00",
                            "00 00 00 00 AB FF 00 00 01 00 00 00"}) {
        EXPECT_FALSE(parseRequest(hexBytes(bad)).request) << bad;
    }
}

TEST(RcapiFrame, AnswersMirrorTheRequestAndCarryTheirPayload) {
    auto profileRequest = special(kProfileFrame);
    std::vector<uint8_t> profile(64, 0);
    profile[0] = 1;
    capi::ManufacturerName name{'S'};
    auto message = hexBytes("0E 00 01 00 05 81 01 00 01 00 00 00 00 00");
    const std::pair<std::vector<uint8_t>, std::vector<uint8_t>> rows[] = {
        {profileAnswer(profileRequest, 0, profile),
         concat({hexBytes("00 4C  00 00 00 00 E1 FF 00 00  00 00"), profile})},
        {registerAnswer(special(kRegisterFrame), 0),
         hexBytes("00 0C  00 00 00 00 F3 FF 00 00  00 00")},
        {versionAnswer(profileRequest, capi::CapiVersion{2, 0, 1, 7}),
         hexBytes("00 1B  00 00 00 00 FD FF 00 00  00 02 00 00 00 00 00 00 00 01 00 00 00 07 00 "
                  "00 00")},
        {manufacturerAnswer(profileRequest, name),
         concat({hexBytes("00 4B  00 00 00 00 FB FF 00 00  00 53"), std::vector<uint8_t>(63)})},
        {messageFrame(message), concat({hexBytes("00 10"), message})},
    };
    for (const auto& [made, expected] : rows) {
        EXPECT_BYTES_EQ(expected, made);
    }
}

}  // namespace
}  // namespace tellmaro::exchange::rcapi
