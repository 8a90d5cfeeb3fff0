#include "data/windows1252.h"

#include <gtest/gtest.h>

#include <tuple>

#include "support/byte_compare.h"

namespace tellmaro::data {
namespace {

using test::textBytes;

TEST(Windows1252, MapsBytesToTheCharactersWindowsShows) {
    const std::pair<std::string_view, std::string_view> cases[] = {
        // Windows-1252, UTF-8
        {{"A\0", 2}, {"A\0", 2}},
        {"\x80\x8A\x96\x99\x9F", "€Š–™Ÿ"},
        // The five undefined bytes pass through as the controls of the same number.
        {"\x81\x8D\x8F\x90\x9D", "\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D"},
        {"\xA0\xE4\xFF", "\xC2\xA0äÿ"},
    };
    for (const auto& [windows1252, utf8] : cases) {
        EXPECT_BYTES_EQ(textBytes(utf8), textBytes(windows1252ToUtf8(windows1252)));
        const auto back = utf8ToWindows1252(utf8);
        ASSERT_TRUE(back.ok()) << back.error;
        EXPECT_BYTES_EQ(textBytes(windows1252), textBytes(*back.text));
    }
    std::string allBytes;  // every byte string comes back unchanged
    for (int byte = 0; byte < 256; ++byte) {
        allBytes += static_cast<char>(byte);
    }
    const auto back = utf8ToWindows1252(windows1252ToUtf8(allBytes));
    EXPECT_BYTES_EQ(textBytes(allBytes), textBytes(back.text.value_or("")));
}

// Where, and whether the bytes are no UTF-8 or the character has no code;
// the second byte's bounds after E0, ED, F0 and F4 are met exactly.
TEST(Windows1252, ReportsWhereUtf8CannotBeConverted) {
    const std::tuple<std::string_view, size_t, const char*> cases[] = {
        {"ab\xC2\x80", 2, "U+0080"},  // its byte holds the euro sign
        {"x日", 1, "U+65E5"},
        {"ab😀", 2, "U+1F600"},
        {"a\xC3", 1, "ungültig"},  // sequence cut off
        {"\xC3 ", 0, "ungültig"},  // continuation byte missing
        {"\x80", 0, "ungültig"},   // stray continuation byte
        {"\xC0\x80", 0, "ungültig"},
        {"\xE0\x9F\xBF", 0, "ungültig"},  // overlong
        {"\xE0\xA0\x80", 0, "U+0800"},
        {"\xE2\x82\xC0", 0, "ungültig"},
        {"\xE2\x82\xBF", 0, "U+20BF"},
        {"ok\xED\xA0\x80", 2, "ungültig"},  // surrogate
        {"\xED\x9F\xBF", 0, "U+D7FF"},
        {"\xF0\x8F\xBF\xBF", 0, "ungültig"},
        {"\xF0\x90\x80\x80", 0, "U+10000"},
        {"\xF4\x8F\xBF\xBF", 0, "U+10FFFF"},
        {"\xF4\x90\x80\x80", 0, "ungültig"},  // above U+10FFFF
    };
    for (const auto& [utf8, offset, error] : cases) {
        const auto result = utf8ToWindows1252(utf8);
        EXPECT_FALSE(result.ok()) << testing::PrintToString(utf8);
        EXPECT_EQ(offset, result.errorOffset) << testing::PrintToString(utf8);
        EXPECT_NE(result.error.find(error), std::string::npos) << result.error;
    }
}

}  // namespace
}  // namespace tellmaro::data
