// What the in-process driver presents: the controller, data blocks behind
// pointers as libcapi20 lays them out, and the limits of registration.
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
    oneChannel.identity.profile = makeProfile({.bChannels = 1});
    LineFlow("put seize; put seize; get CONNECT_CONF Info=0x0000; get CONNECT_CONF Info=0x2003",
             oneChannel);
}

// Blocks come through Data64 (Data is 0) and stay held until answered or
// their call ends; a request's block comes from Data64, else from Data.
TEST(InProcessDriver, DataBlocksTravelThroughTheirPointers) {
    LineFlow f("party mobile 0171\nlisten; answer mobile m; wait 512ms");
    auto first = f.play("get DATA_B3_IND");
    f.play("get DATA_B3_IND; check line held-blocks=2; put data-resp m; check line held-blocks=1");
    EXPECT_EQ(first.bytes.size() == 30 && capi::readU32(first.bytes, 12) == 0,
              capi::kDataB3Uses64BitPointer);
    const auto expected = makeAudioBlock({f.party("mobile"), 0});
    EXPECT_TRUE(std::ranges::equal(expected, first.block));
    f.play("put data m; get DATA_B3_CONF Info=0x0000; check mobile received 1");
    f.play("put data m @12=00,00,00,00 size=22 length=22; get DATA_B3_CONF Info=0x2007");
    f.play("mobile hangup; get DISCONNECT_B3_IND");
    EXPECT_TRUE(std::ranges::equal(expected, first.block)) << "readable until its call ends";
    f.play("get DISCONNECT_IND; check line held-blocks=0");
}

TEST(Registration, LimitsAreRefusedWithTheirCodes) {
    LineConfig config;
    config.maxApplications = 2;
    LineFlow f("", config);
    auto& controller = f.line.controller();
    uint32_t appl = 0;
    EXPECT_EQ(f.driver.registerApplication({.maxB3BlockSize = 64}, appl), 0x1002u);
    EXPECT_EQ(f.driver.registerApplication({.maxLogicalConnections = 0}, appl), 0x1005u);
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
