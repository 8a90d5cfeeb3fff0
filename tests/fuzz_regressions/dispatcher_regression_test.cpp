// Inputs the dispatcher fuzzer found, replayed through the same rig: an
// engine put into a phase by a scripted call, then given the messages.
#include <gtest/gtest.h>

#include <set>

#include "engine_rig.h"

namespace tellmaro::fuzz {
namespace {

struct Request {
    uint32_t ncci;
    uint64_t pointer;
};

// Every DATA_B3_REQ the engine puts once armed, with its block pointer.
std::vector<Request> dataRequests(const std::vector<uint8_t>& input) {
    ProgramFolder folder;
    std::vector<Request> requests;
    replayDispatcherInput(folder.path, input, [&](Rig& rig) {
        rig.driver.readBlocks = false;
        rig.driver.onPut = [&](std::span<const uint8_t> message) {
            auto header = capi::readHeader(message);
            if (header && header->is(capi::Command::DataB3, capi::Subcommand::Req) &&
                message.size() >= kLayout64) {
                requests.push_back(
                    {capi::readU32(message, kNcci), capi::readU64(message, kData64)});
            }
        };
    });
    return requests;
}

// Relaying; one 30-byte DATA_B3 message whose subcommand (0x01) is neither
// CONF nor IND. No driver fills in the block pointer of such a message, so
// its Data64 (0x0000000200860000 here) points nowhere; relaying it made
// libcapi20 copy 2048 bytes from there.
const std::vector<uint8_t> kDataB3WithOddSubcommand = {
    0x04, 0x1E, 0x1E, 0x00, 0x01, 0x00, 0x86, 0x01, 0x00, 0x00, 0x86, 0x00, 0x08, 0x02, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x08, 0x02, 0x00, 0x05, 0x00, 0x00, 0x00, 0x86, 0x00, 0x02};

TEST(DispatcherFuzzRegression, DataB3ThatIsNoIndicationIsNotRelayed) {
    for (const Request& request : dataRequests(kDataB3WithOddSubcommand)) {
        EXPECT_NE(request.pointer, 0x0000000200860000u)
            << "DATA_B3_REQ on NCCI " << request.ncci << " relays a block no driver handed out";
    }
}

// The same message as a real DATA_B3_IND is relayed, from the driver's buffer.
TEST(DispatcherFuzzRegression, TheSameBlockAsAnIndicationIsRelayedFromTheDriversBuffer) {
    auto input = kDataB3WithOddSubcommand;
    input[7] = 0x82;
    const auto requests = dataRequests(input);
    ASSERT_FALSE(requests.empty());
    EXPECT_NE(requests.back().pointer, 0x0000000200860000u);
}

}  // namespace
}  // namespace tellmaro::fuzz
