#pragma once
// Little-endian building blocks shared by the binary file formats.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tellmaro::data {

using Bytes = std::vector<uint8_t>;

inline void appendU16(Bytes& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value & 0xFF));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

inline void appendText(Bytes& out, std::string_view text) {
    out.insert(out.end(), text.begin(), text.end());
}

// Reads a buffer front to back. A read that would run past the end yields
// nothing and leaves the position where it was, so the caller can say where
// the data stopped.
class ByteReader {
  public:
    explicit ByteReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}

    size_t offset() const { return offset_; }
    size_t remaining() const { return bytes_.size() - offset_; }

    std::optional<uint8_t> u8() {
        if (remaining() < 1) {
            return std::nullopt;
        }
        return bytes_[offset_++];
    }

    std::optional<uint16_t> u16() {
        if (remaining() < 2) {
            return std::nullopt;
        }
        const auto value = static_cast<uint16_t>(bytes_[offset_] | bytes_[offset_ + 1] << 8);
        offset_ += 2;
        return value;
    }

    std::optional<std::string> text(size_t length) {
        if (remaining() < length) {
            return std::nullopt;
        }
        std::string value(bytes_.begin() + static_cast<std::ptrdiff_t>(offset_),
                          bytes_.begin() + static_cast<std::ptrdiff_t>(offset_ + length));
        offset_ += length;
        return value;
    }

  private:
    std::span<const uint8_t> bytes_;
    size_t offset_ = 0;
};

}  // namespace tellmaro::data
