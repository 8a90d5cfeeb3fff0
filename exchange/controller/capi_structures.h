#pragma once
// CAPI 2.0 structures inside parameters: a length byte (or 0xFF and a 16-bit
// length) and the bytes it counts, and the structures the controller reads inside
// other structures.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace tellmaro::exchange {

struct StructView {
    std::span<const uint8_t> content;
    size_t size = 0;     // bytes used, length field included
    size_t overrun = 0;  // bytes the length claims beyond the end of `bytes`
};

// The structure at the start of `bytes`; nothing when not even its length
// field is there. A structure that claims more than `bytes` holds comes back
// with its present bytes as content and `overrun` set.
std::optional<StructView> readStruct(std::span<const uint8_t> bytes);

// B protocol: B1, B2 and B3 (words, default 0) and their configurations.
struct BProtocol {
    uint16_t b1 = 0;
    uint16_t b2 = 0;
    uint16_t b3 = 0;
};

// A structure of length 1 is taken as the low byte of B1; a shorter list
// than the full one leaves the rest at their defaults. Empty problem on success.
BProtocol parseBProtocol(std::span<const uint8_t> content, std::string& problem);

// Additional information: B channel information, keypad facility, user-user
// data, facility data array, sending complete. Elements the structure ends
// before are empty.
struct AdditionalInfo {
    static constexpr size_t kElements = 5;
    static constexpr size_t kKeypad = 1;
    std::array<std::span<const uint8_t>, kElements> elements{};

    std::span<const uint8_t> keypad() const { return elements[kKeypad]; }
};

AdditionalInfo parseAdditionalInfo(std::span<const uint8_t> content, std::string& problem);

}  // namespace tellmaro::exchange
