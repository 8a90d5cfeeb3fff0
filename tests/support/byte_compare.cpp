#include "support/byte_compare.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <stdexcept>
#include <string>

namespace tellmaro::test {

std::vector<uint8_t> hexBytes(std::string_view hex) {
    std::string digits(hex);
    std::erase_if(digits, [](char c) { return std::isspace(static_cast<unsigned char>(c)); });
    if (digits.size() % 2 != 0 ||
        digits.find_first_not_of("0123456789abcdefABCDEF") != digits.npos) {
        throw std::invalid_argument("not pairs of hex digits in test vector: " + digits);
    }
    std::vector<uint8_t> out;
    for (size_t i = 0; i < digits.size(); i += 2) {
        out.push_back(static_cast<uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
    }
    return out;
}

std::vector<uint8_t> textBytes(std::string_view text) {
    return {text.begin(), text.end()};
}

std::vector<uint8_t> concat(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> out;
    for (const auto& part : parts) {
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

::testing::AssertionResult bytesEqual(std::span<const uint8_t> expected,
                                      std::span<const uint8_t> actual) {
    if (std::ranges::equal(expected, actual)) {
        return ::testing::AssertionSuccess();
    }
    // Rows of 8 bytes: expected | actual, '*' on rows that differ.
    auto cell = [](std::span<const uint8_t> bytes, size_t i) {
        char text[4] = "   ";
        if (i < bytes.size()) {
            std::snprintf(text, sizeof text, "%02X ", bytes[i]);
        }
        return std::string(text);
    };
    std::string rows = "offset  expected                   actual\n";
    for (size_t row = 0; row < std::max(expected.size(), actual.size()); row += 8) {
        std::string left, right;
        for (size_t i = row; i < row + 8; ++i) {
            left += cell(expected, i);
            right += cell(actual, i);
        }
        char label[32];
        std::snprintf(label, sizeof label, "%5zu %c ", row, left == right ? ' ' : '*');
        rows += label + left + "| " + right + "\n";
    }
    return ::testing::AssertionFailure() << "byte buffers differ (expected " << expected.size()
                                         << " bytes, actual " << actual.size() << " bytes)\n"
                                         << rows;
}

}  // namespace tellmaro::test
