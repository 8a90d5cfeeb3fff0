#include "support/byte_compare.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <stdexcept>

namespace tellmaro::test {

std::vector<uint8_t> hexBytes(std::string_view hex) {
    std::vector<uint8_t> out;
    int pending = -1;
    for (char c : hex) {
        if (std::isspace(static_cast<unsigned char>(c))) {
            continue;
        }
        int nibble;
        if (c >= '0' && c <= '9') {
            nibble = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            nibble = c - 'a' + 10;
        } else if (c >= 'A' && c <= 'F') {
            nibble = c - 'A' + 10;
        } else {
            throw std::invalid_argument("not a hex digit in test vector");
        }
        if (pending < 0) {
            pending = nibble;
        } else {
            out.push_back(static_cast<uint8_t>(pending * 16 + nibble));
            pending = -1;
        }
    }
    if (pending >= 0) {
        throw std::invalid_argument("odd number of hex digits in test vector");
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

namespace {

constexpr size_t kRow = 8;

std::string hexRow(std::span<const uint8_t> bytes, size_t offset) {
    std::string row;
    char cell[4];
    for (size_t i = offset; i < offset + kRow; ++i) {
        if (i < bytes.size()) {
            std::snprintf(cell, sizeof cell, "%02X ", bytes[i]);
            row += cell;
        } else {
            row += "   ";
        }
    }
    return row;
}

bool rowDiffers(std::span<const uint8_t> a, std::span<const uint8_t> b, size_t offset) {
    for (size_t i = offset; i < offset + kRow; ++i) {
        bool inA = i < a.size();
        bool inB = i < b.size();
        if (inA != inB || (inA && a[i] != b[i])) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::string sideBySideHex(std::span<const uint8_t> expected, std::span<const uint8_t> actual) {
    std::string out = "offset  expected                   actual\n";
    size_t longest = std::max(expected.size(), actual.size());
    char label[32];
    for (size_t offset = 0; offset < longest; offset += kRow) {
        std::snprintf(label, sizeof label, "%5zu %c ", offset,
                      rowDiffers(expected, actual, offset) ? '*' : ' ');
        out += label;
        out += hexRow(expected, offset);
        out += "| ";
        out += hexRow(actual, offset);
        out += '\n';
    }
    return out;
}

::testing::AssertionResult bytesEqual(std::span<const uint8_t> expected,
                                      std::span<const uint8_t> actual) {
    if (expected.size() == actual.size() &&
        std::equal(expected.begin(), expected.end(), actual.begin())) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "byte buffers differ (expected " << expected.size()
                                         << " bytes, actual " << actual.size() << " bytes)\n"
                                         << sideBySideHex(expected, actual);
}

}  // namespace tellmaro::test
