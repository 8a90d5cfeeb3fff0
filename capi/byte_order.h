#pragma once
// Little-endian access to CAPI message bytes. CAPI 2.0 is little-endian on
// every platform, so fields are always assembled byte by byte.

#include <cstddef>
#include <cstdint>
#include <span>

namespace tellmaro::capi {

constexpr uint16_t readU16(std::span<const uint8_t> bytes, size_t offset) {
    return static_cast<uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

constexpr uint32_t readU32(std::span<const uint8_t> bytes, size_t offset) {
    return static_cast<uint32_t>(readU16(bytes, offset)) |
           (static_cast<uint32_t>(readU16(bytes, offset + 2)) << 16);
}

constexpr uint64_t readU64(std::span<const uint8_t> bytes, size_t offset) {
    return static_cast<uint64_t>(readU32(bytes, offset)) |
           (static_cast<uint64_t>(readU32(bytes, offset + 4)) << 32);
}

constexpr void writeU16(std::span<uint8_t> bytes, size_t offset, uint16_t value) {
    bytes[offset] = static_cast<uint8_t>(value);
    bytes[offset + 1] = static_cast<uint8_t>(value >> 8);
}

constexpr void writeU32(std::span<uint8_t> bytes, size_t offset, uint32_t value) {
    writeU16(bytes, offset, static_cast<uint16_t>(value));
    writeU16(bytes, offset + 2, static_cast<uint16_t>(value >> 16));
}

constexpr void writeU64(std::span<uint8_t> bytes, size_t offset, uint64_t value) {
    writeU32(bytes, offset, static_cast<uint32_t>(value));
    writeU32(bytes, offset + 4, static_cast<uint32_t>(value >> 32));
}

}  // namespace tellmaro::capi
