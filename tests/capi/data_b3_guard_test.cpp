// The guard that keeps DATA_B3_RESPs to blocks the driver really handed out.
#include <gtest/gtest.h>

#include <deque>
#include <vector>

#include "capi/byte_order.h"
#include "capi/data_b3_guard.h"
#include "capi/message_templates.h"
#include "support/byte_compare.h"

namespace tellmaro::capi {
namespace {

using test::hexBytes;

// A driver that hands out scripted messages and records what is put.
class ScriptedDriver : public CapiDriver {
  public:
    std::deque<std::vector<uint8_t>> incoming;
    std::vector<std::vector<uint8_t>> sent;
    uint32_t putResult = kCapiOk;

    uint32_t installed() override { return kCapiOk; }
    uint32_t registerApplication(const RegisterParams&, uint32_t&) override { return kCapiOk; }
    uint32_t release(uint32_t) override { return kCapiOk; }
    uint32_t putMessage(uint32_t, std::span<const uint8_t> message) override {
        if (putResult == kCapiOk) {
            sent.emplace_back(message.begin(), message.end());
        }
        return putResult;
    }
    uint32_t getMessage(uint32_t, std::span<const uint8_t>& message) override {
        if (incoming.empty()) {
            return kCapiQueueEmpty;
        }
        current_ = incoming.front();
        incoming.pop_front();
        message = current_;
        return kCapiOk;
    }
    uint32_t getVersion(CapiVersion&) override { return kCapiOk; }
    uint32_t getManufacturer(ManufacturerName&) override { return kCapiOk; }
    uint32_t getProfile(uint32_t, CapiProfile&) override { return kCapiOk; }

  private:
    std::vector<uint8_t> current_;
};

std::vector<uint8_t> dataB3Ind(uint32_t ncci, uint16_t handle) {
    auto bytes = hexBytes(
        "1E 00 01 00 86 82 01 00  00 00 00 00  00 00 00 00  00 08  00 00  00 00"
        "00 00 00 00 00 00 00 00");
    writeU32(bytes, 8, ncci);
    writeU16(bytes, 18, handle);
    return bytes;
}

struct GuardTest : ::testing::Test {
    ScriptedDriver driver;
    DataB3Guard guard{driver};
    MessageTemplates templates;

    void receive(std::vector<uint8_t> message) {
        driver.incoming.push_back(std::move(message));
        std::span<const uint8_t> got;
        ASSERT_EQ(guard.getMessage(1, got), kCapiOk);
    }
    uint32_t answer(uint32_t ncci, uint16_t handle) {
        return guard.putMessage(1, templates.dataB3Resp(DataB3RespNumber::OnReceipt, ncci, handle));
    }
};

// A failed answer keeps its block outstanding; a second answer never reaches the driver.
TEST_F(GuardTest, PassesAnswersToOutstandingBlocksOnceAndDropsTheRest) {
    receive(dataB3Ind(0x10101, 3));
    receive(dataB3Ind(0x10201, 3));
    driver.putResult = 0x1103;
    EXPECT_EQ(answer(0x10101, 3), 0x1103u);
    driver.putResult = kCapiOk;
    EXPECT_EQ(answer(0x10101, 3), kCapiOk);
    EXPECT_EQ(answer(0x10101, 3), kCapiOk);  // twice
    EXPECT_EQ(answer(0x10101, 4), kCapiOk);  // never received
    EXPECT_EQ(answer(0x10201, 3), kCapiOk);
    EXPECT_EQ(driver.sent.size(), 2u);
    EXPECT_EQ(guard.droppedResponses(), 2u);
    EXPECT_EQ(guard.outstandingBlocks(), 0u);
}

TEST_F(GuardTest, EndedConnectionsAndReleasesFreeTheirBlocks) {
    receive(dataB3Ind(0x10101, 1));
    receive(dataB3Ind(0x10201, 1));
    receive(dataB3Ind(0x20201, 2));  // a second NCCI on the same PLCI

    // Answering DISCONNECT_B3_IND frees that NCCI's blocks only.
    ASSERT_EQ(guard.putMessage(1, templates.disconnectB3Resp(0x10101)), kCapiOk);
    EXPECT_EQ(guard.outstandingBlocks(), 2u);

    // DISCONNECT_IND of PLCI 0x201 frees every NCCI on it.
    receive(hexBytes("0E 00 01 00 04 82 07 00  01 02 00 00  90 34"));
    EXPECT_EQ(guard.outstandingBlocks(), 0u);

    receive(dataB3Ind(0x10101, 6));
    guard.release(1);
    EXPECT_EQ(guard.outstandingBlocks(), 0u);
    EXPECT_EQ(answer(0x10101, 6), kCapiOk);
    EXPECT_EQ(guard.droppedResponses(), 1u);
}

}  // namespace
}  // namespace tellmaro::capi
