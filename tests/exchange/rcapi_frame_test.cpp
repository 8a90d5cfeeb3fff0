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
const std::vector<uint8_t> kRegisterFrame =
    hexBytes("00 17  00 00 00 00 F2 FF 00 00 00 00 00 00  00 08 02 00 07 00 00 08 02");
const std::vector<uint8_t> kProfileFrame = hexBytes("00 0E  00 00 00 00 E0 FF 00 00 01 00 00 00");

std::vector<uint8_t> onlyFrame(std::span<const uint8_t> stream) {
    FrameReader reader;
    reader.append(stream);
    auto body = reader.next();
    EXPECT_TRUE(body.has_value());
    EXPECT_FALSE(reader.hasPartialFrame());
    return body.value_or(std::vector<uint8_t>{});
}

TEST(RcapiFrame, ReassemblesFramesFromAnyPieces) {
    auto stream = concat({kRegisterFrame, kProfileFrame});
    FrameReader reader;
    std::vector<std::vector<uint8_t>> bodies;
    for (uint8_t byte : stream) {
        reader.append(std::span<const uint8_t>(&byte, 1));
        while (auto body = reader.next()) {
            bodies.push_back(*body);
        }
    }
    ASSERT_EQ(bodies.size(), 2u);
    EXPECT_EQ(bodies[0].size(), 21u);
    EXPECT_EQ(bodies[1].size(), 12u);
    EXPECT_FALSE(reader.failed());

    FrameReader broken;
    broken.append(hexBytes("00 01"));
    EXPECT_FALSE(broken.next().has_value());
    EXPECT_TRUE(broken.failed());
    FrameReader huge;
    huge.append(hexBytes("10 01"));
    EXPECT_FALSE(huge.next().has_value());
    EXPECT_TRUE(huge.failed());
}

TEST(RcapiFrame, ParsesRegistrationQueriesAndMessages) {
    auto reg = parseRequest(onlyFrame(kRegisterFrame));
    ASSERT_TRUE(reg.request) << reg.error;
    auto& special = std::get<SpecialRequest>(*reg.request);
    EXPECT_EQ(special.command, SpecialCommand::Register);
    EXPECT_EQ(special.registerParams.messageBufferSize, 2048u);
    EXPECT_EQ(special.registerParams.maxLogicalConnections, 2u);
    EXPECT_EQ(special.registerParams.maxB3Blocks, 7u);
    EXPECT_EQ(special.registerParams.maxB3BlockSize, 2048u);

    auto profile = parseRequest(onlyFrame(kProfileFrame));
    ASSERT_TRUE(profile.request);
    EXPECT_EQ(std::get<SpecialRequest>(*profile.request).controller, 1u);

    // A DATA_B3_REQ in the 64-bit layout with its block appended.
    auto dataReq = hexBytes(
        "1E 00 01 00 86 80 8D 00 01 01 01 00 00 00 00 00 00 08 09 01 00 00"
        "A0 30 47 B8 B9 55 00 00");
    std::vector<uint8_t> block(2048, 0x5A);
    auto parsed = parseRequest(concat({dataReq, block}));
    ASSERT_TRUE(parsed.request);
    auto& message = std::get<MessageRequest>(*parsed.request);
    EXPECT_BYTES_EQ(dataReq, message.message);
    EXPECT_BYTES_EQ(block, message.data);

    EXPECT_FALSE(parseRequest(hexBytes("0C 00 01 00")).request);
    EXPECT_FALSE(parseRequest(hexBytes("20 00 01 00 05 80 01 00 01 00 00 00")).request);
    EXPECT_FALSE(parseRequest(hexBytes("00 00 00 00 AB FF 00 00 01 00 00 00")).request);
}

TEST(RcapiFrame, AnswersMirrorTheRequestAndCarryTheirPayload) {
    auto profileRequest = std::get<SpecialRequest>(*parseRequest(onlyFrame(kProfileFrame)).request);
    std::vector<uint8_t> profile(64, 0);
    profile[0] = 1;
    profile[2] = 2;
    EXPECT_BYTES_EQ(concat({hexBytes("00 4C  00 00 00 00 E1 FF 00 00  00 00"), profile}),
                    profileAnswer(profileRequest, 0, profile));

    auto registerRequest =
        std::get<SpecialRequest>(*parseRequest(onlyFrame(kRegisterFrame)).request);
    EXPECT_BYTES_EQ(hexBytes("00 0C  00 00 00 00 F3 FF 00 00  00 00"),
                    registerAnswer(registerRequest, 0));

    capi::CapiVersion version{2, 0, 1, 7};
    EXPECT_BYTES_EQ(hexBytes("00 1B  00 00 00 00 FD FF 00 00  00"
                             "02 00 00 00 00 00 00 00 01 00 00 00 07 00 00 00"),
                    versionAnswer(profileRequest, version));

    capi::ManufacturerName name{};
    name[0] = 'S';
    auto manufacturer = manufacturerAnswer(profileRequest, name);
    EXPECT_EQ(manufacturer.size(), 2u + 8 + 1 + 64);
    EXPECT_EQ(manufacturer[11], 'S');

    auto message = hexBytes("0E 00 01 00 05 81 01 00 01 00 00 00 00 00");
    EXPECT_BYTES_EQ(concat({hexBytes("00 10"), message}), messageFrame(message));
}

}  // namespace
}  // namespace tellmaro::exchange::rcapi
