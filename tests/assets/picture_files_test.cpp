// The pictures the program loads from its directory.
#include <gtest/gtest.h>

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

TEST(PictureFiles, IconsAreIconFiles) {
    for (const char* name :
         {"handyred.ico", "handygrn.ico", "handyyel.ico", "trffc10a.ico", "trffc10c.ico"}) {
        SCOPED_TRACE(name);
        auto bytes = bytesOf(name);
        ASSERT_GE(bytes.size(), 22u);
        // Reserved 0, type 1 (icon), at least one image.
        EXPECT_EQ(bytes[0], 0);
        EXPECT_EQ(bytes[1], 0);
        EXPECT_EQ(bytes[2], 1);
        EXPECT_GE(bytes[4] | (bytes[5] << 8), 1);
    }
    EXPECT_NE(bytesOf("handyred.ico"), bytesOf("handygrn.ico"));
    EXPECT_NE(bytesOf("trffc10a.ico"), bytesOf("trffc10c.ico"));
}

TEST(PictureFiles, SplashPicturesHaveTheirFormatsAndSizes) {
    auto gif = bytesOf("splash.gif");
    ASSERT_GE(gif.size(), 10u);
    EXPECT_EQ(std::string(gif.begin(), gif.begin() + 3), "GIF");
    EXPECT_EQ(gif[6] | (gif[7] << 8), 377);
    EXPECT_EQ(gif[8] | (gif[9] << 8), 58);
    auto jpeg = bytesOf("splash.jpg");
    ASSERT_GE(jpeg.size(), 3u);
    EXPECT_EQ(jpeg[0], 0xFF);
    EXPECT_EQ(jpeg[1], 0xD8);
}

}  // namespace
}  // namespace tellmaro::test
