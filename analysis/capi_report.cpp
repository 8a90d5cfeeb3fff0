#include "analysis/capi_report.h"

#include <array>
#include <utility>

#include "capi/byte_order.h"
#include "data/windows1252.h"

namespace tellmaro::analysis {

namespace {

constexpr std::string_view kLineEnd = "\r\n";
constexpr size_t kSeparatorLength = 112;
constexpr size_t kNameWidth = 64;
constexpr int kRelayScore = 2;
constexpr uint32_t kDtmfBit = 3;

using BitTexts = std::array<std::pair<uint32_t, std::string_view>, 13>;

constexpr BitTexts kGlobalOptions = {{
    {0, "internal controller supported"},
    {1, "external equipment supported"},
    {2, "handset supported"},
    {3, "DTMF supported"},
    {4, "Supplementary Services"},
    {5, "Channel allocation supported"},
    {6, "Parameter B channel operation supported"},
}};

constexpr BitTexts kB1Protocols = {{
    {0, "64 kbit/s with HDLC framing"},
    {1, "64 kbit/s bit-transparent operation with byte framing from the network"},
    {2, "V.110 asynchronous operation with HDLC framing from the network"},
    {3, "V.110 synchronous operation with HDLC framing"},
    {4, "T.30 modem for Group 3 fax"},
    {5, "64 kbit/s inverted with HDLC framing"},
    {6, "56 kbit/s bit-transparent operation with byte framing from the network"},
    {7, "Modem with all negotiations"},
    {8, "Modem asynchronous operation with start/stop byte framing"},
    {9, "Modem synchronous operation with HDLC framing"},
}};

constexpr BitTexts kB2Protocols = {{
    {0, "ISO 7776 /X.75 SLP)"},
    {1, "Transparent"},
    {2, "SDLC"},
    {3, "LAPD in accordance with Q.921 for D-channel X.25 (SAPI 16)"},
    {4, "T.30 for Group 3 fax"},
    {5, "Point-to-Point Protocol (PPP)"},
    {6, "Transparent (ignoring framing errors of B1 protocol)"},
    {7, "Modem error correction and compression (V.42 bis or MNP5)"},
    {8, "ISO 7776 (X.75 SLP) modified supporting V.42 bis compression"},
    {9, "V.120 asynchronous mode"},
    {10, "V.120 asynchronous mode supporting V.42 bis"},
    {11, "V.120 bit-transparent mode"},
    {12, "LAPD in accordance with Q.921 including free SAPI selection"},
}};

constexpr BitTexts kB3Protocols = {{
    {0, "Transparent"},
    {1, "T.90NL with compatibility to T.70NL in accordance to T.90 Appendix II"},
    {2, "ISO 8208 (X.25 DTE-DTE)"},
    {3, "X.25 DCE"},
    {4, "T.30 for Group 3 fax"},
    {5, "T.30 for Group 3 fax with extensions"},
    {7, "Modem"},
}};

class Report {
  public:
    Report& line(std::string_view text = {}) {
        text_.append(text);
        text_.append(kLineEnd);
        return *this;
    }
    Report& separator() { return line(std::string(kSeparatorLength, '-')); }
    // One line per set bit that has a text, lowest bit first.
    Report& bits(uint32_t mask, const BitTexts& texts) {
        for (uint32_t bit = 0; bit < 32; ++bit) {
            for (const auto& [textBit, text] : texts) {
                if (textBit == bit && !text.empty() && (mask & (1u << bit))) {
                    line(text);
                }
            }
        }
        return *this;
    }
    std::string take() { return std::move(text_); }

  private:
    std::string text_;
};

}  // namespace

std::string manufacturerBlock(const capi::CapiVersion& version,
                              const capi::ManufacturerName& manufacturer) {
    std::string name;
    for (char c : manufacturer) {
        if (c == '\0') {
            break;
        }
        name += c;
    }
    name.resize(std::max(name.size(), kNameWidth), ' ');
    return Report()
        .line()
        .line("ISDN-Card Manufacturer: " + std::to_string(version.manufacturerMajor) + "." +
              std::to_string(version.manufacturerMinor) + ", " + data::windows1252ToUtf8(name) +
              " ")
        .line("CAPI Version: " + std::to_string(version.capiMajor) + "." +
              std::to_string(version.capiMinor))
        .line()
        .separator()
        .line()
        .take();
}

ProfileReport profileBlocks(const capi::CapiProfile& profile) {
    uint16_t controllers = capi::readU16(profile, 0);
    uint16_t bChannels = capi::readU16(profile, 2);
    uint32_t options = capi::readU32(profile, 4);
    ProfileReport report;
    if (bChannels > 1) {
        report.score = 1;
    }
    if (options & (1u << kDtmfBit)) {
        report.score += 1;
    }
    auto list = [&](Report& r, std::string_view heading, uint32_t mask, const BitTexts& texts) {
        r.line(heading).line().bits(mask, texts);
    };
    Report text;
    text.line("Number of installed controllers: " + std::to_string(controllers))
        .line("Number of supported B channels: " + std::to_string(bChannels))
        .line()
        .separator()
        .line();
    list(text, "Global options:", options, kGlobalOptions);
    text.line().separator().line();
    list(text, "B1 protocol support:", capi::readU32(profile, 8), kB1Protocols);
    text.line().separator().line();
    list(text, "B2 protocol support:", capi::readU32(profile, 12), kB2Protocols);
    text.line().separator().line();
    list(text, "B3 protocol support:", capi::readU32(profile, 16), kB3Protocols);
    report.text = text.take();
    return report;
}

Verdict verdictFor(int score) {
    if (score == kRelayScore) {
        return {"trffc10a.ico",
                "Ihre ISDN-Karte unterstützt alle nötigen Parameter um den Tellmaro nutzen zu "
                "können"};
    }
    return {"trffc10c.ico",
            "Ihre ISDN-Karte unterstützt leider nicht alle nötigen Parameter um den Tellmaro "
            "nutzen zu können"};
}

}  // namespace tellmaro::analysis
