// Debian's libcapi20 talking remote CAPI to tellmaro-sim in another process:
// a small client takes a call with audio both ways, DTMF and the caller's hang-up.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "capi/byte_order.h"
#include "capi/libcapi20_driver.h"
#include "capi/message_header.h"
#include "capi/message_templates.h"
#include "support/simulator_process.h"

namespace tellmaro::test {
namespace {

using namespace std::chrono_literals;

TEST(Libcapi20Client, TakesACallThroughTheRealLibraryAndTheSimulator) {
    SimulatorProcess sim(TELLMARO_SIM_PATH, R"(line 0711555000
        party mobile 01711234567 answer=1s hangup=4s keys=1s:12,1500ms:#
        at 300ms mobile call; expect idle; expect clean; end 6s)");
    ASSERT_TRUE(sim.spawned());
    capi::LibCapi20Driver driver;
    ASSERT_TRUE(driver.loaded()) << driver.loadError();
    capi::ManufacturerName name{};
    ASSERT_EQ(driver.getManufacturer(name), capi::kCapiOk);
    EXPECT_STREQ(name.data(), "Tellmaro line simulator");
    uint32_t applId = 0;
    ASSERT_EQ(driver.registerApplication({3072, 2, 7, 2048}, applId), capi::kCapiOk);
    capi::MessageTemplates t;
    t.setApplId(static_cast<uint16_t>(applId));
    auto put = [&](capi::MessageTemplates::Bytes bytes) {
        ASSERT_EQ(driver.putMessage(applId, bytes), capi::kCapiOk);
    };
    put(t.listenReq(capi::ListenMask::Calls));

    std::string keys;
    size_t blocks = 0;
    bool ended = false;
    for (auto deadline = std::chrono::steady_clock::now() + 10s;
         !ended && std::chrono::steady_clock::now() < deadline;) {
        std::span<const uint8_t> m;
        if (driver.getMessage(applId, m) == capi::kCapiQueueEmpty) {
            std::this_thread::sleep_for(2ms);
            continue;
        }
        auto header = *capi::readHeader(m);
        uint32_t address = capi::readU32(m, 8);
        if (header.is(capi::Command::Connect, capi::Subcommand::Ind)) {
            put(t.connectRespAnswer(address, "0711555000"));
        } else if (header.is(capi::Command::ConnectActive, capi::Subcommand::Ind)) {
            put(t.connectActiveResp(address));
        } else if (header.is(capi::Command::ConnectB3, capi::Subcommand::Ind)) {
            put(t.connectB3Resp(address, 0));
        } else if (header.is(capi::Command::ConnectB3Active, capi::Subcommand::Ind)) {
            put(t.facilityReqDtmfListen(address));
            put(t.connectB3ActiveResp(address));
        } else if (header.is(capi::Command::DataB3, capi::Subcommand::Ind)) {
            std::vector<uint8_t> echo(m[16] | m[17] << 8, 0x5A);  // audio goes both ways
            put(t.dataB3Req(address, echo.data(), 2048, static_cast<uint16_t>(blocks++ % 200), 0));
            put(t.dataB3Resp(capi::DataB3RespNumber::OnReceipt, address, capi::readU16(m, 18)));
        } else if (header.is(capi::Command::Facility, capi::Subcommand::Ind)) {
            keys.append(m.begin() + 15, m.begin() + 15 + m[14]);
            put(t.facilityResp(address));
        } else if (header.is(capi::Command::DisconnectB3, capi::Subcommand::Ind)) {
            put(t.disconnectB3Resp(address));
        } else if ((ended = header.is(capi::Command::Disconnect, capi::Subcommand::Ind))) {
            put(t.disconnectResp(header.messageNumber, address));
        }
    }
    EXPECT_TRUE(ended);
    EXPECT_EQ(keys, "12#");
    EXPECT_GE(blocks, 10u);  // about 4 s of audio at one block per 256 ms
    driver.release(applId);
    EXPECT_EQ(sim.wait(), 0) << sim.output();
    EXPECT_NE(sim.output().find("scenario passed"), std::string::npos) << sim.output();
}

}  // namespace
}  // namespace tellmaro::test
