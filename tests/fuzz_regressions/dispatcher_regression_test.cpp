// Inputs the dispatcher fuzzer found, replayed through its rig.
#include <gtest/gtest.h>

#include "engine_rig.h"

namespace tellmaro::fuzz {
namespace {

// Relaying, one DATA_B3 message with subcommand 0x01: no driver fills in its block pointer, so
// relaying it made libcapi20 copy 2048 bytes from nowhere. (The flows own real blocks' relaying.)
TEST(DispatcherFuzzRegression, OnlyADataB3IndicationsBlockIsRelayed) {
    ProgramFolder folder;
    replayDispatcherInput(
        folder.path,
        std::vector<uint8_t>{0x04, 0x1E, 0x1E, 0x00, 0x01, 0x00, 0x86, 0x01, 0x00, 0x00,
                             0x86, 0x00, 0x08, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x08,
                             0x02, 0x00, 0x05, 0x00, 0x00, 0x00, 0x86, 0x00, 0x02},
        [](Rig& rig) {
            rig.driver.readBlocks = false;
            rig.driver.onPut = [](std::span<const uint8_t> message) {
                EXPECT_FALSE(isDataB3(message, capi::Subcommand::Req) &&
                             message.size() >= kLayout64 &&
                             capi::readU64(message, kData64) == 0x200860000u)
                    << "a block no driver handed out was relayed";
            };
        });
}

}  // namespace
}  // namespace tellmaro::fuzz
