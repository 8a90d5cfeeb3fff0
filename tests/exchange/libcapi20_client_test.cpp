// The production path for real: Debian's libcapi20 talking remote CAPI to
// tellmaro-sim in another process. A small client registers, reads the
// profile, listens, takes a call, exchanges audio both ways, receives DTMF
// and sees the caller hang up; the simulator checks its scenario.

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "capi/byte_order.h"
#include "capi/libcapi20_driver.h"
#include "capi/message_header.h"
#include "capi/message_templates.h"
#include "capi/parameter_records.h"
#include "exchange/simulated/audio_block.h"
#include "support/simulator_process.h"

namespace tellmaro::test {
namespace {

using namespace std::chrono_literals;
using capi::Command;
using capi::Subcommand;

constexpr const char* kScenario = R"(line 0711555000
party mobile 01711234567 answer=1s hangup=4s keys=1s:12,1500ms:#
at 300ms mobile call
expect idle
expect clean
end 6s
)";

TEST(Libcapi20Client, TakesACallThroughTheRealLibraryAndTheSimulator) {
    SimulatorProcess sim(TELLMARO_SIM_PATH, kScenario);
    ASSERT_TRUE(sim.spawned());

    capi::LibCapi20Driver driver;
    ASSERT_TRUE(driver.loaded()) << driver.loadError();
    ASSERT_EQ(driver.installed(), capi::kCapiOk);
    capi::CapiProfile profile{};
    ASSERT_EQ(driver.getProfile(1, profile), capi::kCapiOk);
    EXPECT_EQ(capi::readU16(profile, 2), 2u);         // B channels
    EXPECT_NE(capi::readU32(profile, 4) & 0x08, 0u);  // DTMF
    capi::ManufacturerName name{};
    ASSERT_EQ(driver.getManufacturer(name), capi::kCapiOk);
    EXPECT_STREQ(name.data(), "Tellmaro line simulator");

    uint32_t applId = 0;
    ASSERT_EQ(driver.registerApplication({3072, 2, 7, 2048}, applId), capi::kCapiOk);
    capi::MessageTemplates templates;
    templates.setApplId(static_cast<uint16_t>(applId));
    ASSERT_EQ(driver.putMessage(applId, templates.listenReq(capi::ListenMask::Calls)),
              capi::kCapiOk);

    std::string keys;
    size_t blocksIn = 0;
    size_t blocksInOrder = 0;
    uint32_t reply = 0;
    bool ended = false;
    auto callDeadline = std::chrono::steady_clock::now() + 10s;
    while (!ended && std::chrono::steady_clock::now() < callDeadline) {
        std::span<const uint8_t> message;
        uint32_t got = driver.getMessage(applId, message);
        if (got == capi::kCapiQueueEmpty) {
            std::this_thread::sleep_for(2ms);
            continue;
        }
        ASSERT_EQ(got, capi::kCapiOk);
        auto header = *capi::readHeader(message);
        uint32_t address = capi::readU32(message, 8);
        auto put = [&](capi::MessageTemplates::Bytes bytes) {
            ASSERT_EQ(driver.putMessage(applId, bytes), capi::kCapiOk);
        };
        if (header.is(Command::Connect, Subcommand::Ind)) {
            put(templates.alertReq(header.messageNumber, address));
            put(templates.connectRespAnswer(address, "0711555000"));
        } else if (header.is(Command::ConnectActive, Subcommand::Ind)) {
            put(templates.connectActiveResp(address));
        } else if (header.is(Command::ConnectB3, Subcommand::Ind)) {
            put(templates.connectB3Resp(address, 0));
        } else if (header.is(Command::ConnectB3Active, Subcommand::Ind)) {
            put(templates.facilityReqDtmfListen(address));
            put(templates.connectB3ActiveResp(address));
        } else if (header.is(Command::DataB3, Subcommand::Ind)) {
            capi::DataB3IndParams block;
            block.fill(message);
            auto origin = exchange::recogniseAudioBlock({block.data(), block.dataLength()});
            if (origin.id && !origin.damaged && origin.id->sequence == blocksIn) {
                ++blocksInOrder;
            }
            ++blocksIn;
            auto answer = exchange::makeAudioBlock({99, reply});
            put(templates.dataB3Req(address, answer.data(), 2048,
                                    static_cast<uint16_t>(reply++ % 200), 0));
            put(templates.dataB3Resp(capi::DataB3RespNumber::OnReceipt, address,
                                     block.dataHandle()));
        } else if (header.is(Command::Facility, Subcommand::Ind)) {
            capi::FacilityIndParams facility;
            facility.fill(message);
            auto parameter = facility.parameter();
            keys.append(parameter.begin() + 1, parameter.begin() + 1 + parameter[0]);
            put(templates.facilityResp(address));
        } else if (header.is(Command::DisconnectB3, Subcommand::Ind)) {
            put(templates.disconnectB3Resp(address));
        } else if (header.is(Command::Disconnect, Subcommand::Ind)) {
            put(templates.disconnectResp(header.messageNumber, address));
            ended = true;
        }
    }
    EXPECT_TRUE(ended);
    EXPECT_EQ(keys, "12#");
    EXPECT_GE(blocksIn, 10u);  // about 4 s of audio at one block per 256 ms
    EXPECT_EQ(blocksInOrder, blocksIn);
    driver.release(applId);

    int status = sim.wait();
    std::string output = sim.output();
    EXPECT_EQ(status, 0) << output;
    EXPECT_NE(output.find("scenario passed"), std::string::npos) << output;
}

}  // namespace
}  // namespace tellmaro::test
