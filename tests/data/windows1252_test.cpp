#include "data/windows1252.h"

#include <gtest/gtest.h>

#include "support/byte_compare.h"

namespace tellmaro::data {
namespace {

using test::textBytes;

TEST(Windows1252, EveryByteStringRoundTripsThroughUtf8) {
    std::string allBytes;
    for (int byte = 0; byte < 256; ++byte) {
        allBytes += static_cast<char>(byte);
    }
    const auto back = utf8ToWindows1252(windows1252ToUtf8(allBytes));
    ASSERT_TRUE(back.ok()) << back.error;
    EXPECT_BYTES_EQ(textBytes(allBytes), textBytes(*back.text));
}

TEST(Windows1252, MapsBytesToTheCharactersWindowsShows) {
    struct Case {
        std::string_view windows1252;
        std::string_view utf8;
    };
    const Case cases[] = {
        {{"A\0", 2}, {"A\0", 2}},
        {"\x80\x8A\x96\x99\x9F", "€Š–™Ÿ"},
        // The five undefined bytes pass through as the controls of the same number.
        {"\x81\x8D\x8F\x90\x9D", "\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D"},
        {"\xA0\xE4\xFF", "\xC2\xA0äÿ"},
    };
    for (const Case& c : cases) {
        EXPECT_BYTES_EQ(textBytes(c.utf8), textBytes(windows1252ToUtf8(c.windows1252)));
        const auto back = utf8ToWindows1252(c.utf8);
        ASSERT_TRUE(back.ok()) << back.error;
        EXPECT_BYTES_EQ(textBytes(c.windows1252), textBytes(*back.text));
    }
}

TEST(Windows1252, ReportsWhereUtf8CannotBeConverted) {
    struct Case {
        std::string_view utf8;
        size_t offset;
    };
    const Case cases[] = {
        {"ab\xC2\x80", 2},        // U+0080: its byte holds the euro sign
        {"x日", 1},               // no code for it
        {"ab😀", 2},               // outside the code page's plane
        {"a\xC3", 1},             // sequence cut off
        {"\xC3 ", 0},             // continuation byte missing
        {"\x80", 0},              // stray continuation byte
        {"\xC0\x80", 0},          // overlong
        {"ok\xED\xA0\x80", 2},    // surrogate
        {"\xF4\x90\x80\x80", 0},  // above U+10FFFF
    };
    for (const Case& c : cases) {
        const auto result = utf8ToWindows1252(c.utf8);
        EXPECT_FALSE(result.ok()) << testing::PrintToString(c.utf8);
        EXPECT_EQ(c.offset, result.errorOffset) << testing::PrintToString(c.utf8);
        EXPECT_FALSE(result.error.empty());
    }
}

}  // namespace
}  // namespace tellmaro::data
