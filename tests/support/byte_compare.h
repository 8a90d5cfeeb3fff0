#pragma once
// Byte-buffer assertions: on a mismatch both buffers are printed as hex side by side.

#include <gtest/gtest.h>

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace tellmaro::test {

// Parses "FF 00 1a ..." (whitespace ignored) into bytes; throws on bad input.
std::vector<uint8_t> hexBytes(std::string_view hex);
// Bytes of a text literal, without a terminator.
std::vector<uint8_t> textBytes(std::string_view text);
std::vector<uint8_t> concat(std::initializer_list<std::vector<uint8_t>> parts);

::testing::AssertionResult bytesEqual(std::span<const uint8_t> expected,
                                      std::span<const uint8_t> actual);

}  // namespace tellmaro::test

#define EXPECT_BYTES_EQ(expected, actual) \
    EXPECT_TRUE(::tellmaro::test::bytesEqual((expected), (actual)))
