// Inputs the dispatcher fuzzer found, replayed through its rig.
#include <gtest/gtest.h>

#include "engine_rig.h"

namespace tellmaro::fuzz {
namespace {

// The Data64 of every DATA_B3_REQ the engine puts once armed.
std::vector<uint64_t> relayedPointers(const std::vector<uint8_t>& input) {
    ProgramFolder folder;
    std::vector<uint64_t> pointers;
    replayDispatcherInput(folder.path, input, [&](Rig& rig) {
        rig.driver.readBlocks = false;
        rig.driver.onPut = [&](std::span<const uint8_t> message) {
            if (isDataB3(message, capi::Subcommand::Req) && message.size() >= kLayout64) {
                pointers.push_back(capi::readU64(message, kData64));
            }
        };
    });
    return pointers;
}

// Relaying, one DATA_B3 message with subcommand 0x01: no driver fills in its block pointer, so
// relaying it made libcapi20 copy 2048 bytes from nowhere. (The flows own real blocks' relaying.)
TEST(DispatcherFuzzRegression, OnlyADataB3IndicationsBlockIsRelayed) {
    const std::vector<uint8_t> input = {0x04, 0x1E, 0x1E, 0x00, 0x01, 0x00, 0x86, 0x01, 0x00, 0x00,
                                        0x86, 0x00, 0x08, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x08,
                                        0x02, 0x00, 0x05, 0x00, 0x00, 0x00, 0x86, 0x00, 0x02};
    for (uint64_t pointer : relayedPointers(input)) {
        EXPECT_NE(pointer, 0x0000000200860000u) << "a block no driver handed out was relayed";
    }
}

}  // namespace
}  // namespace tellmaro::fuzz
