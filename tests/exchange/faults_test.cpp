// Faults on demand and the limits of registration.
#include <gtest/gtest.h>

#include "line_harness.h"

namespace tellmaro::exchange::test {
namespace {

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

TEST(Faults, WithoutADriverNothingRegisters) {
    LineHarness h;
    h.line.controller().setDriverPresent(false);
    uint32_t appl = 0;
    capi::CapiProfile profile{};
    EXPECT_EQ(h.driver.installed(), 0x1009u);
    EXPECT_EQ(h.driver.registerApplication(capi::RegisterParams{}, appl), 0x1009u);
    EXPECT_EQ(h.driver.getProfile(1, profile), 0x1009u);
    h.line.controller().setDriverPresent(true);
    EXPECT_EQ(h.driver.installed(), 0u);
    EXPECT_EQ(h.driver.registerApplication(capi::RegisterParams{}, appl), 0u);
}

TEST(Faults, DroppedConnectionFailsEveryGetAndPutUntilReleased) {
    LineHarness h;
    PartyId mobile = h.line.addParty("0171");
    h.listen();
    h.answerCallFrom(mobile);
    h.line.controller().dropConnection(h.appl);
    EXPECT_TRUE(h.line.controller().connectionDropped(h.appl));
    std::span<const uint8_t> message;
    for (int i = 0; i < 3; ++i) {
        h.advance(1s);
        EXPECT_EQ(h.driver.getMessage(h.appl, message), 0x1108u);
        EXPECT_EQ(h.put(h.relay.listenReq(capi::ListenMask::Calls)), 0x1108u);
    }
    PartyId other = h.line.addParty("0172");
    h.line.callPcNow(other);
    EXPECT_TRUE(h.line.partyRecord(other).heard(PartyEvent::NotOffered));

    EXPECT_EQ(h.driver.release(h.appl), 0u);
    EXPECT_TRUE(h.line.accounting().idle());
    ASSERT_EQ(h.driver.registerApplication(capi::RegisterParams{}, h.appl), 0u);
    h.relay.setApplId(static_cast<uint16_t>(h.appl));
    h.listen();
}

TEST(Registration, LimitsAreRefusedWithTheirCodes) {
    LineConfig config;
    config.maxApplications = 2;
    LineHarness h(config);
    uint32_t appl = 0;
    capi::RegisterParams tinyBlocks;
    tinyBlocks.maxB3BlockSize = 64;
    EXPECT_EQ(h.driver.registerApplication(tinyBlocks, appl), 0x1002u);
    capi::RegisterParams noConnections;
    noConnections.maxLogicalConnections = 0;
    EXPECT_EQ(h.driver.registerApplication(noConnections, appl), 0x1005u);
    EXPECT_EQ(h.line.controller().registerApplicationWithId(h.appl, capi::RegisterParams{}),
              0x1101u)
        << "id in use";
    EXPECT_EQ(h.line.controller().registerApplicationWithId(77, capi::RegisterParams{}), 0u);
    EXPECT_EQ(h.driver.registerApplication(capi::RegisterParams{}, appl), 0x1001u);
    EXPECT_EQ(h.driver.release(77), 0u);
    EXPECT_EQ(h.driver.release(77), 0x1101u);
}

}  // namespace
}  // namespace tellmaro::exchange::test
