// The committed voice prompts: every one the engine may open.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace tellmaro::test {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t recordSize = 2049;
constexpr std::size_t heardSize = 2048;
constexpr unsigned char silence = 0xAB;  // A-law zero (0xD5) bit-reversed, as CAPI carries it
constexpr std::size_t quietEdge = 80;    // 10 ms

// Every file the prompt table names: the sentences and the read-back digits.
std::vector<std::string> promptNames() {
    std::istringstream names(
        "welcome dir waehle stern raute abbruch nichtvorhanden nicht_erreichbar 0 1 2 3 4 5 6 7 8 "
        "9");
    return {std::istream_iterator<std::string>(names), std::istream_iterator<std::string>()};
}

std::vector<unsigned char> readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<unsigned char> promptBytes(const std::string& name) {
    return readAll(fs::path(TELLMARO_ASSET_DIR) / name);
}

bool allSilent(auto first, auto last) {
    return std::all_of(first, last, [](unsigned char b) { return b == silence; });
}

// Whole records with silent filler, quiet at both ends, and a text naming no key (which key
// confirms is a setting) except in the echo of star and hash.
TEST(Prompts, EachIsWholeRecordsWithQuietEdgesAndATextNamingNoKey) {
    for (const std::string& name : promptNames()) {
        SCOPED_TRACE(name);
        const auto bytes = promptBytes(name + ".pdt");
        ASSERT_TRUE(!bytes.empty() && bytes.size() % recordSize == 0) << "size " << bytes.size();
        std::vector<unsigned char> heard;
        for (std::size_t at = 0; at < bytes.size(); at += recordSize) {
            EXPECT_EQ(bytes[at + heardSize], silence) << "filler of record " << at / recordSize;
            heard.insert(heard.end(), bytes.begin() + at, bytes.begin() + at + heardSize);
        }
        EXPECT_TRUE(allSilent(heard.begin(), heard.begin() + quietEdge)) << "starts with sound";
        EXPECT_TRUE(allSilent(heard.end() - quietEdge, heard.end())) << "ends with sound";
        EXPECT_FALSE(allSilent(heard.begin(), heard.end())) << "nothing is said";

        const auto chars = readAll(fs::path(TELLMARO_PROMPT_TEXT_DIR) / (name + ".txt"));
        std::string text(chars.begin(), chars.end());
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
