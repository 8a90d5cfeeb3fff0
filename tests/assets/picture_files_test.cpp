// The pictures the program loads from its directory: each in its format, the
// splash picture in the size its window is laid out for.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace tellmaro::test {
namespace {

std::vector<unsigned char> bytesOf(const char* name) {
    std::ifstream in(std::filesystem::path(TELLMARO_ASSET_DIR) / name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(PictureFiles, EachStartsAsItsFormatDoes) {
    const std::vector<unsigned char> icon = {0, 0, 1, 0};  // reserved, type 1 (icon)
    const std::pair<const char*, std::vector<unsigned char>> pictures[] = {
        {"handyred.ico", icon},       {"handygrn.ico", icon}, {"handyyel.ico", icon},
        {"trffc10a.ico", icon},       {"trffc10c.ico", icon}, {"splash.gif", {'G', 'I', 'F'}},
        {"splash.jpg", {0xFF, 0xD8}},
    };
    for (const auto& [name, start] : pictures) {
        const auto bytes = bytesOf(name);
        EXPECT_GE(bytes.size(), 22u) << name;
        EXPECT_TRUE(std::equal(start.begin(), start.end(), bytes.begin())) << name;
    }
    EXPECT_NE(bytesOf("handyred.ico"), bytesOf("handygrn.ico"));
    EXPECT_NE(bytesOf("trffc10a.ico"), bytesOf("trffc10c.ico"));
    const auto gif = bytesOf("splash.gif");
    EXPECT_EQ(gif[6] | (gif[7] << 8), 377);
    EXPECT_EQ(gif[8] | (gif[9] << 8), 58);
}

}  // namespace
}  // namespace tellmaro::test
