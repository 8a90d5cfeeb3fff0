// The analysis report, line by line, for given driver answers. The window
// that shows it is tested in tests/desktop/desktop_test.cpp.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "analysis/capi_report.h"
#include "capi/byte_order.h"

namespace tellmaro::analysis {
namespace {

const std::string kSeparator(112, '-');

capi::CapiProfile profileOf(uint16_t controllers, uint16_t bChannels, uint32_t options, uint32_t b1,
                            uint32_t b2, uint32_t b3) {
    capi::CapiProfile profile{};
    capi::writeU16(profile, 0, controllers);
    capi::writeU16(profile, 2, bChannels);
    capi::writeU32(profile, 4, options);
    capi::writeU32(profile, 8, b1);
    capi::writeU32(profile, 12, b2);
    capi::writeU32(profile, 16, b3);
    return profile;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find("\r\n", start);
        EXPECT_NE(end, std::string::npos) << "every line ends with CR LF";
        if (end == std::string::npos) {
            break;
        }
        out.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return out;
}

TEST(CapiReport, ManufacturerBlockPadsTheNameAndReadsTheVersions) {
    capi::ManufacturerName name{};
    std::string tenChars = "AVM Berlin";
    std::copy(tenChars.begin(), tenChars.end(), name.begin());
    auto text = manufacturerBlock({2, 0, 3, 11}, name);
    EXPECT_EQ(lines(text),
              (std::vector<std::string>{
                  "",
                  "ISDN-Card Manufacturer: 3.11, AVM Berlin" + std::string(54, ' ') + " ",
                  "CAPI Version: 2.0",
                  "",
                  kSeparator,
                  "",
              }));

    capi::ManufacturerName empty{};
    EXPECT_NE(manufacturerBlock({}, empty).find("0.0, " + std::string(64, ' ') + " \r\n"),
              std::string::npos);

    // Windows-1252 names come out readable.
    capi::ManufacturerName umlaut{};
    umlaut[0] = 'M';
    umlaut[1] = static_cast<char>(0xFC);
    EXPECT_NE(manufacturerBlock({}, umlaut).find("Mü" + std::string(62, ' ')), std::string::npos);
}

TEST(CapiReport, ProfileBlocksListEverySetBitInOrder) {
    // Bit 6 of the B3 protocols has no text.
    auto report = profileBlocks(profileOf(1, 2, 0x09, 0x0303, 0x03, 0x41));
    EXPECT_EQ(report.score, 2);
    EXPECT_EQ(lines(report.text),
              (std::vector<std::string>{
                  "Number of installed controllers: 1",
                  "Number of supported B channels: 2",
                  "",
                  kSeparator,
                  "",
                  "Global options:",
                  "",
                  "internal controller supported",
                  "DTMF supported",
                  "",
                  kSeparator,
                  "",
                  "B1 protocol support:",
                  "",
                  "64 kbit/s with HDLC framing",
                  "64 kbit/s bit-transparent operation with byte framing from the network",
                  "Modem asynchronous operation with start/stop byte framing",
                  "Modem synchronous operation with HDLC framing",
                  "",
                  kSeparator,
                  "",
                  "B2 protocol support:",
                  "",
                  "ISO 7776 /X.75 SLP)",
                  "Transparent",
                  "",
                  kSeparator,
                  "",
                  "B3 protocol support:",
                  "",
                  "Transparent",
              }));
}

TEST(CapiReport, TheVerdictNeedsTwoBChannelsAndDtmf) {
    struct Case {
        uint16_t bChannels;
        uint32_t options;
        int score;
    };
    for (const Case& c : {Case{2, 0x08, 2}, Case{30, 0x7F, 2}, Case{2, 0x01, 1}, Case{1, 0x08, 1},
                          Case{1, 0x00, 0}}) {
        auto report = profileBlocks(profileOf(1, c.bChannels, c.options, 0xFFFF, 0xFFFF, 0xFF));
        EXPECT_EQ(report.score, c.score) << c.bChannels << " channels, options " << c.options;
    }
    EXPECT_EQ(verdictFor(2).trafficLight, "trffc10a.ico");
    EXPECT_EQ(
        verdictFor(2).sentence,
        "Ihre ISDN-Karte unterstützt alle nötigen Parameter um den Tellmaro nutzen zu können");
    for (int score : {0, 1}) {
        EXPECT_EQ(verdictFor(score).trafficLight, "trffc10c.ico");
        EXPECT_EQ(verdictFor(score).sentence,
                  "Ihre ISDN-Karte unterstützt leider nicht alle nötigen Parameter um den "
                  "Tellmaro nutzen zu können");
    }
}

}  // namespace
}  // namespace tellmaro::analysis
