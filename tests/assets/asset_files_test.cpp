// The committed voice prompts: every one the engine may open.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace tellmaro::test {
namespace {

std::string readAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Whole records of 2048 heard bytes and a silent filler byte, quiet for 10 ms at both ends,
// and a text naming no key (which key confirms is a setting) except in the echo of star and hash.
TEST(Prompts, EachIsWholeRecordsWithQuietEdgesAndATextNamingNoKey) {
    constexpr size_t kRecord = 2049, kHeard = 2048, kQuietEdge = 80;
    constexpr char kSilence = '\xAB';  // A-law zero (0xD5) bit-reversed, as CAPI carries it
    for (const std::string name :
         {"welcome", "dir", "waehle", "stern", "raute", "abbruch", "nichtvorhanden",
          "nicht_erreichbar", "0", "1", "2", "3", "4", "5", "6", "7", "8", "9"}) {
        SCOPED_TRACE(name);
        const std::string bytes =
            readAll(std::filesystem::path(TELLMARO_ASSET_DIR) / (name + ".pdt"));
        ASSERT_TRUE(!bytes.empty() && bytes.size() % kRecord == 0) << "size " << bytes.size();
        std::string heard;
        for (size_t at = 0; at < bytes.size(); at += kRecord) {
            EXPECT_EQ(bytes[at + kHeard], kSilence) << "filler of record " << at / kRecord;
            heard += bytes.substr(at, kHeard);
        }
        const size_t said = heard.find_first_not_of(kSilence);
        EXPECT_TRUE(said >= kQuietEdge &&
                    heard.find_last_not_of(kSilence) < heard.size() - kQuietEdge)
            << "sound at an edge, or nothing said";

        std::string text =
            readAll(std::filesystem::path(TELLMARO_PROMPT_TEXT_DIR) / (name + ".txt"));
        EXPECT_NE(text.find_first_not_of(" \t\r\n"), std::string::npos) << "no text";
        std::transform(text.begin(), text.end(), text.begin(),
                       [](unsigned char c) { return std::tolower(c); });
        const bool echo = name == "stern" || name == "raute";
        EXPECT_TRUE(echo || (text.find("stern") == std::string::npos &&
                             text.find("raute") == std::string::npos))
            << text;
    }
}

}  // namespace
}  // namespace tellmaro::test
