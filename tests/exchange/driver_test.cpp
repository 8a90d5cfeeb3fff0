// What the in-process driver presents: the controller, data blocks reached
// through message pointers as libcapi20 lays them out and the limits of registration.
#include "capi/byte_order.h"
#include "exchange/simulated/audio_block.h"
#include "line_flow.h"

namespace tellmaro::exchange::test {
namespace {

TEST(InProcessDriver, PresentsTheControllerItsProfileAllows) {
    LineFlow f("");
    capi::CapiProfile count{};
    count.fill(0xEE);
    ASSERT_EQ(f.driver.getProfile(0, count), 0u);
    EXPECT_EQ(capi::readU16(count, 0), 1u);
    EXPECT_EQ(count[2], 0u);
    EXPECT_EQ(f.driver.getProfile(2, count), 0x2002u);

    LineConfig oneChannel;
    oneChannel.identity.profile = makeProfile({.controllers = 1,
                                               .bChannels = 1,
                                               .globalOptions = 0,
                                               .b1Support = 2,
                                               .b2Support = 2,
                                               .b3Support = 1});
    LineFlow("put seize; put seize; get CONNECT_CONF Info=0x0000; get CONNECT_CONF Info=0x2003",
             oneChannel);
}

TEST(InProcessDriver, DataBlocksTravelThroughTheirPointers) {
    LineFlow f("party mobile 0171\nlisten; answer mobile m; wait 512ms");
    PartyId mobile = f.party("mobile");
    auto first = f.play("get DATA_B3_IND");
    auto second = f.play("get DATA_B3_IND");
    if (capi::kDataB3Uses64BitPointer) {
        ASSERT_EQ(first.bytes.size(), 30u);
        EXPECT_EQ(capi::readU32(first.bytes, 12), 0u) << "Data";
    }
    EXPECT_EQ(f.driver.heldBlocks(), 2u);
    auto expected = makeAudioBlock({mobile, 0});
    ASSERT_EQ(first.block.size(), expected.size());
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), first.block.begin()));
    f.put(f.relay.dataB3Resp(capi::DataB3RespNumber::OnReceipt, first.address(), first.word(18)));
    EXPECT_EQ(f.driver.heldBlocks(), 1u);

    // A request's block comes from Data64, else from Data; without either it
    // is a coding error.
    std::vector<uint8_t> block(2048, 0x42);
    auto request = f.relay.dataB3Req(first.address(), block.data(), 2048, 1, 0);
    std::vector<uint8_t> message(request.begin(), request.end());
    f.put(message);
    f.play("get DATA_B3_CONF Info=0x0000");
    std::fill(message.begin() + 12, message.begin() + 16, 0);
    if (message.size() >= 30) {
        std::fill(message.begin() + 22, message.begin() + 30, 0);
    }
    f.put(message);
    f.play("get DATA_B3_CONF Info=0x2007");
    ASSERT_EQ(f.line.partyRecord(mobile).received.size(), 1u);
    EXPECT_EQ(f.line.partyRecord(mobile).received[0].hash, audioBlockHash(block));

    // The unanswered block stays readable until its call ends.
    f.play("mobile hangup; get DISCONNECT_B3_IND");
    EXPECT_EQ(recogniseAudioBlock(second.block).id, (AudioBlockId{mobile, 1}));
    f.play("get DISCONNECT_IND; check line held-blocks=0");
}

TEST(Registration, LimitsAreRefusedWithTheirCodes) {
    LineConfig config;
    config.maxApplications = 2;
    LineFlow f("", config);
    auto& controller = f.line.controller();
    uint32_t appl = 0;
    capi::RegisterParams tinyBlocks, noConnections;
    tinyBlocks.maxB3BlockSize = 64;
    noConnections.maxLogicalConnections = 0;
    EXPECT_EQ(f.driver.registerApplication(tinyBlocks, appl), 0x1002u);
    EXPECT_EQ(f.driver.registerApplication(noConnections, appl), 0x1005u);
    EXPECT_EQ(controller.registerApplicationWithId(f.appl, {}), 0x1101u) << "id in use";
    EXPECT_EQ(controller.registerApplicationWithId(77, {}), 0u);
    EXPECT_EQ(f.driver.registerApplication({}, appl), 0x1001u);
    EXPECT_EQ(f.driver.release(77), 0u);
    EXPECT_EQ(f.driver.release(77), 0x1101u);

    controller.setDriverPresent(false);
    EXPECT_EQ(f.driver.installed(), 0x1009u);
    EXPECT_EQ(f.driver.registerApplication({}, appl), 0x1009u);
    controller.setDriverPresent(true);
    EXPECT_EQ(f.driver.registerApplication({}, appl), 0u);
}

}  // namespace
}  // namespace tellmaro::exchange::test
