// What the in-process driver presents: the controller, data blocks reached
// through message pointers as libcapi20 lays them out, faults on demand and
// the limits of registration.
#include <gtest/gtest.h>

#include "capi/byte_order.h"
#include "exchange/simulated/audio_block.h"
#include "line_harness.h"

namespace tellmaro::exchange::test {
namespace {

TEST(InProcessDriver, PresentsTheControllerItsProfileAllows) {
    LineHarness h;
    capi::CapiProfile count{};
    count.fill(0xEE);
    ASSERT_EQ(h.driver.getProfile(0, count), 0u);
    EXPECT_EQ(capi::readU16(count, 0), 1u);
    EXPECT_EQ(count[2], 0u);
    EXPECT_EQ(h.driver.getProfile(2, count), 0x2002u);

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

TEST(InProcessDriver, DataBlocksTravelThroughTheirPointers) {
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
    }
    EXPECT_EQ(h.driver.heldBlocks(), 2u);
    auto expected = makeAudioBlock({mobile, 0});
    ASSERT_EQ(first.block.size(), expected.size());
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), first.block.begin()));
    h.putOk(h.relay.dataB3Resp(capi::DataB3RespNumber::OnReceipt, leg.ncci, first.word(18)));
    EXPECT_EQ(h.driver.heldBlocks(), 1u);

    // A request's block comes from Data64, else from Data; without either it
    // is a coding error.
    std::vector<uint8_t> block(2048, 0x42);
    auto request = h.relay.dataB3Req(leg.ncci, block.data(), 2048, 1, 0);
    std::vector<uint8_t> message(request.begin(), request.end());
    h.putOk(message);
    EXPECT_EQ(h.expect(Command::DataB3, Subcommand::Conf).word(14), 0u);
    std::fill(message.begin() + 12, message.begin() + 16, 0);
    if (message.size() >= 30) {
        std::fill(message.begin() + 22, message.begin() + 30, 0);
    }
    h.putOk(message);
    EXPECT_EQ(h.expect(Command::DataB3, Subcommand::Conf).word(14), 0x2007u);
    ASSERT_EQ(h.line.partyRecord(mobile).received.size(), 1u);
    EXPECT_EQ(h.line.partyRecord(mobile).received[0].hash, audioBlockHash(block));

    // The unanswered block stays readable until its call ends.
    h.line.hangUpNow(mobile);
    h.expect(Command::DisconnectB3, Subcommand::Ind);
    EXPECT_EQ(recogniseAudioBlock(second.block).id, (AudioBlockId{mobile, 1}));
    h.expect(Command::Disconnect, Subcommand::Ind);
    EXPECT_EQ(h.driver.heldBlocks(), 0u);
}

TEST(Faults, NextPutAndNextGetFailOnceWithTheGivenCode) {
    LineHarness h;
    h.line.controller().failNextPut(0x1103);
    EXPECT_EQ(h.put(h.relay.listenReq(capi::ListenMask::Calls)), 0x1103u);
    h.expectNothing();  // the refused message had no effect
    h.putOk(h.relay.listenReq(capi::ListenMask::Calls));
    h.line.controller().failNextGet(0x1105);
    std::span<const uint8_t> message;
    EXPECT_EQ(h.driver.getMessage(h.appl, message), 0x1105u);
    h.expect(Command::Listen, Subcommand::Conf);  // still there
    EXPECT_TRUE(h.line.violations().empty());
}

TEST(Faults, DroppedConnectionFailsEveryGetAndPutUntilReleased) {
    LineHarness h;
    PartyId mobile = h.line.addParty("0171");
    h.listen();
    h.answerCallFrom(mobile);
    h.line.controller().dropConnection(h.appl);
    std::span<const uint8_t> message;
    h.advance(1s);
    EXPECT_EQ(h.driver.getMessage(h.appl, message), 0x1108u);
    EXPECT_EQ(h.put(h.relay.listenReq(capi::ListenMask::Calls)), 0x1108u);
    PartyId other = h.line.addParty("0172");
    h.line.callPcNow(other);
    EXPECT_TRUE(h.line.partyRecord(other).heard(PartyEvent::NotOffered));
    EXPECT_EQ(h.driver.release(h.appl), 0u);
    EXPECT_TRUE(h.line.accounting().idle());
}

TEST(Registration, LimitsAreRefusedWithTheirCodes) {
    LineConfig config;
    config.maxApplications = 2;
    LineHarness h(config);
    auto& controller = h.line.controller();
    uint32_t appl = 0;
    capi::RegisterParams tinyBlocks, noConnections;
    tinyBlocks.maxB3BlockSize = 64;
    noConnections.maxLogicalConnections = 0;
    EXPECT_EQ(h.driver.registerApplication(tinyBlocks, appl), 0x1002u);
    EXPECT_EQ(h.driver.registerApplication(noConnections, appl), 0x1005u);
    EXPECT_EQ(controller.registerApplicationWithId(h.appl, {}), 0x1101u) << "id in use";
    EXPECT_EQ(controller.registerApplicationWithId(77, {}), 0u);
    EXPECT_EQ(h.driver.registerApplication({}, appl), 0x1001u);
    EXPECT_EQ(h.driver.release(77), 0u);
    EXPECT_EQ(h.driver.release(77), 0x1101u);

    controller.setDriverPresent(false);
    EXPECT_EQ(h.driver.installed(), 0x1009u);
    EXPECT_EQ(h.driver.registerApplication({}, appl), 0x1009u);
    controller.setDriverPresent(true);
    EXPECT_EQ(h.driver.registerApplication({}, appl), 0u);
}

}  // namespace
}  // namespace tellmaro::exchange::test
