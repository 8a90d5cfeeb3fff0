// The analysis report, line by line; its window and verdict are tested in tests/desktop.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "analysis/capi_report.h"
#include "capi/byte_order.h"

namespace tellmaro::analysis {
namespace {

capi::CapiProfile profileOf(uint16_t bChannels, uint32_t options, uint32_t b1 = 0, uint32_t b2 = 0,
                            uint32_t b3 = 0) {
    capi::CapiProfile profile{};
    capi::writeU16(profile, 0, 1);
    capi::writeU16(profile, 2, bChannels);
    for (size_t at = 4; uint32_t value : {options, b1, b2, b3}) {
        capi::writeU32(profile, std::exchange(at, at + 4), value);
    }
    return profile;
}

// The lines, each ended by CR LF; "|" separates lines, "--" stands for the separator.
std::string crlf(const std::string& lines) {
    std::string text;
    for (size_t start = 0, end = 0; end != std::string::npos; start = end + 1) {
        end = lines.find('|', start);
        const std::string line = lines.substr(start, end - start);
        text += (line == "--" ? "\r\n" + std::string(112, '-') + "\r\n" : line) + "\r\n";
    }
    return text;
}

// The manufacturer's name padded, Windows-1252 made readable; every set bit of the profile in
// order, where bit 6 of the B3 protocols has no text.
TEST(CapiReport, TheBlocksPadTheManufacturerAndListEverySetBitInOrder) {
    capi::ManufacturerName name{};
    const std::string tenChars = "AVM B\xE4rlin";
    std::copy(tenChars.begin(), tenChars.end(), name.begin());
    EXPECT_EQ(manufacturerBlock({2, 0, 3, 11}, name),
              crlf("|ISDN-Card Manufacturer: 3.11, AVM Bärlin" + std::string(55, ' ') +
                   "|CAPI Version: 2.0|--"));
    EXPECT_EQ(profileBlocks(profileOf(2, 0x09, 0x0303, 0x03, 0x41)).text,
              crlf("Number of installed controllers: 1|Number of supported B channels: 2|--|"
                   "Global options:||internal controller supported|DTMF supported|--|"
                   "B1 protocol support:||64 kbit/s with HDLC framing|"
                   "64 kbit/s bit-transparent operation with byte framing from the network|"
                   "Modem asynchronous operation with start/stop byte framing|"
                   "Modem synchronous operation with HDLC framing|--|"
                   "B2 protocol support:||ISO 7776 /X.75 SLP)|Transparent|--|"
                   "B3 protocol support:||Transparent"));
}

// The protocol lists take no part in the verdict.
TEST(CapiReport, TheVerdictNeedsTwoBChannelsAndDtmf) {
    const std::tuple<uint16_t, uint32_t, int> cases[] = {
        {2, 0x08, 2}, {30, 0x7F, 2}, {2, 0x01, 1}, {1, 0x08, 1}, {1, 0x00, 0}};
    for (const auto& [bChannels, options, score] : cases) {
        EXPECT_EQ(profileBlocks(profileOf(bChannels, options, ~0u, ~0u, ~0u)).score, score)
            << bChannels << " channels, options " << options;
    }
    EXPECT_EQ(verdictFor(0).sentence, verdictFor(1).sentence);  // the light is chosen with it
}

}  // namespace
}  // namespace tellmaro::analysis
