#pragma once
// Compile-time builder for the byte image of a CAPI message template. Each
// template is written once as a list of (offset, value) writes that mirrors
// its layout table; every byte not written is zero.

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string_view>

#include "capi/message_header.h"

namespace tellmaro::capi {

template <size_t N>
struct TemplateImage {
    std::array<uint8_t, N> bytes{};

    constexpr TemplateImage(Command command, Subcommand subcommand, uint16_t messageNumber) {
        static_assert(N >= kHeaderSize && N <= 0xFFFF);
        put16(kLengthOffset, static_cast<uint16_t>(N));
        bytes[kCommandOffset] = static_cast<uint8_t>(command);
        bytes[kSubcommandOffset] = static_cast<uint8_t>(subcommand);
        put16(kMessageNumberOffset, messageNumber);
    }

    constexpr TemplateImage u8(size_t offset, uint8_t value) const {
        TemplateImage copy = *this;
        copy.bytes[offset] = value;
        return copy;
    }

    constexpr TemplateImage u16(size_t offset, uint16_t value) const {
        TemplateImage copy = *this;
        copy.put16(offset, value);
        return copy;
    }

    constexpr TemplateImage u32(size_t offset, uint32_t value) const {
        return u16(offset, static_cast<uint16_t>(value))
            .u16(offset + 2, static_cast<uint16_t>(value >> 16));
    }

    constexpr TemplateImage raw(size_t offset, std::initializer_list<uint8_t> values) const {
        TemplateImage copy = *this;
        for (uint8_t value : values) {
            copy.bytes[offset++] = value;
        }
        return copy;
    }

    // `count` zero bytes: the layout tables list filler explicitly, so the
    // templates do too, even though the image starts zeroed.
    constexpr TemplateImage zeros(size_t offset, size_t count) const {
        TemplateImage copy = *this;
        for (size_t i = 0; i < count; ++i) {
            copy.bytes[offset + i] = 0;
        }
        return copy;
    }

    // `count` copies of one character, the placeholder of a number field.
    constexpr TemplateImage chars(size_t offset, size_t count, char c) const {
        TemplateImage copy = *this;
        for (size_t i = 0; i < count; ++i) {
            copy.bytes[offset + i] = static_cast<uint8_t>(c);
        }
        return copy;
    }

  private:
    constexpr void put16(size_t offset, uint16_t value) {
        bytes[offset] = static_cast<uint8_t>(value);
        bytes[offset + 1] = static_cast<uint8_t>(value >> 8);
    }
};

}  // namespace tellmaro::capi
