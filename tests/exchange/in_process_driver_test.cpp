// What the in-process driver presents: the controller's identity, and data
// blocks reached through message pointers as libcapi20 lays them out.
#include <gtest/gtest.h>

#include "capi/byte_order.h"
#include "exchange/simulated/audio_block.h"
#include "line_harness.h"

namespace tellmaro::exchange::test {
namespace {

TEST(InProcessDriver, PresentsTheConfiguredController) {
    LineHarness h;
    capi::CapiProfile profile{};
    ASSERT_EQ(h.driver.getProfile(1, profile), 0u);
    ProfileFields fields = readProfile(profile);
    EXPECT_EQ(fields.controllers, 1u);
    EXPECT_EQ(fields.bChannels, 2u);
    EXPECT_EQ(fields.globalOptions, 0x09u);
    EXPECT_EQ(fields.b1Support, 0x03u);
    EXPECT_EQ(fields.b2Support, 0x03u);
    EXPECT_EQ(fields.b3Support, 0x01u);
    capi::CapiProfile count{};
    count.fill(0xEE);
    ASSERT_EQ(h.driver.getProfile(0, count), 0u);
    EXPECT_EQ(capi::readU16(count, 0), 1u);
    EXPECT_EQ(count[2], 0u);
    EXPECT_EQ(h.driver.getProfile(2, profile), 0x2002u);

    capi::CapiVersion version;
    ASSERT_EQ(h.driver.getVersion(version), 0u);
    EXPECT_EQ(version.capiMajor, 2u);
    EXPECT_EQ(version.capiMinor, 0u);
    EXPECT_EQ(version.manufacturerMajor, 1u);
    capi::ManufacturerName name;
    ASSERT_EQ(h.driver.getManufacturer(name), 0u);
    EXPECT_STREQ(name.data(), "Tellmaro line simulator");

    LineConfig oneChannel;
    oneChannel.identity.profile = makeProfile({.controllers = 1,
                                               .bChannels = 1,
                                               .globalOptions = 0,
                                               .b1Support = 2,
                                               .b2Support = 2,
                                               .b3Support = 1});
    LineHarness small(oneChannel);
    small.putOk(small.relay.connectReqSeizure(kOwnNumber));
    small.putOk(small.relay.connectReqSeizure(kOwnNumber));
    EXPECT_EQ(small.expect(Command::Connect, Subcommand::Conf).word(12), 0u);
    EXPECT_EQ(small.expect(Command::Connect, Subcommand::Conf).word(12), 0x2003u);
}

TEST(InProcessDriver, DataBlockIsReachedThroughItsPointerUntilItIsAnswered) {
    LineHarness h;
    PartyId mobile = h.line.addParty("0171");
    h.listen();
    Leg leg = h.answerCallFrom(mobile);
    h.advance(512ms);
    auto first = h.expect(Command::DataB3, Subcommand::Ind);
    auto second = h.expect(Command::DataB3, Subcommand::Ind);
    if (capi::kDataB3Uses64BitPointer) {
        ASSERT_EQ(first.bytes.size(), 30u);
        EXPECT_EQ(capi::readU32(first.bytes, 12), 0u) << "Data";
        EXPECT_NE(capi::readU64(first.bytes, 22), 0u) << "Data64";
    }
    EXPECT_EQ(h.driver.heldBlocks(), 2u);
    auto expected = makeAudioBlock({mobile, 0});
    ASSERT_EQ(first.block.size(), expected.size());
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), first.block.begin()));

    h.putOk(h.relay.dataB3Resp(capi::DataB3RespNumber::OnReceipt, leg.ncci, first.word(18)));
    EXPECT_EQ(h.driver.heldBlocks(), 1u);
    // The second block stays readable until its call ends.
    h.line.hangUpNow(mobile);
    h.expect(Command::DisconnectB3, Subcommand::Ind);
    EXPECT_EQ(recogniseAudioBlock(second.block).id, (AudioBlockId{mobile, 1}));
    h.expect(Command::Disconnect, Subcommand::Ind);
    EXPECT_EQ(h.driver.heldBlocks(), 0u);
}

TEST(InProcessDriver, RequestDataComesFromData64OrElseFromData) {
    LineHarness h;
    PartyId mobile = h.line.addParty("0171");
    h.listen();
    Leg leg = h.answerCallFrom(mobile);
    std::vector<uint8_t> block(2048, 0x42);

    auto request = h.relay.dataB3Req(leg.ncci, block.data(), 2048, 1, 0);
    std::vector<uint8_t> message(request.begin(), request.end());
    h.putOk(message);
    EXPECT_EQ(h.expect(Command::DataB3, Subcommand::Conf).word(14), 0u);
    ASSERT_EQ(h.line.partyRecord(mobile).received.size(), 1u);
    EXPECT_EQ(h.line.partyRecord(mobile).received[0].hash, audioBlockHash(block));

    // Without any pointer there is nothing to play: a coding error.
    std::fill(message.begin() + 12, message.begin() + 16, 0);
    if (message.size() >= 30) {
        std::fill(message.begin() + 22, message.begin() + 30, 0);
    }
    h.putOk(message);
    EXPECT_EQ(h.expect(Command::DataB3, Subcommand::Conf).word(14), 0x2007u);
    EXPECT_EQ(h.line.partyRecord(mobile).received.size(), 1u);
}

}  // namespace
}  // namespace tellmaro::exchange::test
