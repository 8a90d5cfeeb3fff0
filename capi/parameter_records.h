#pragma once
// Records that mirror the parameters of the messages the relay receives. A
// handler copies the parameter area of its message into its record and reads
// the fields from there.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "capi/byte_order.h"
#include "capi/message_header.h"
#include "capi/message_templates.h"

namespace tellmaro::capi {

// Room kept for parameters the record holds uninterpreted.
inline constexpr size_t kRawParameterBytes = 100;

template <size_t Size>
class ParameterRecord {
  public:
    static constexpr size_t kSize = Size;

    // Copies Length - 8 bytes from offset 8 of `message`, but never more than
    // the record holds and never more than `message` really has. Bytes that
    // are not copied read as zero, so nothing of an earlier message survives.
    // Returns the number of bytes copied.
    size_t fill(std::span<const uint8_t> message) {
        size_t count = 0;
        if (message.size() > kHeaderSize) {
            size_t claimed = readU16(message, kLengthOffset);
            size_t claimedParams = claimed > kHeaderSize ? claimed - kHeaderSize : 0;
            count = std::min({claimedParams, Size, message.size() - kHeaderSize});
        }
        std::copy_n(message.begin() + kHeaderSize, count, bytes_.begin());
        std::fill(bytes_.begin() + count, bytes_.end(), 0);
        copied_ = count;
        return count;
    }

    size_t copied() const { return copied_; }
    std::span<const uint8_t> bytes() const { return bytes_; }

  protected:
    uint16_t u16(size_t offset) const { return readU16(bytes_, offset); }
    uint32_t u32(size_t offset) const { return readU32(bytes_, offset); }
    uint64_t u64(size_t offset) const { return readU64(bytes_, offset); }
    std::span<const uint8_t> tail(size_t offset) const {
        return std::span<const uint8_t>(bytes_).subspan(offset);
    }

  private:
    std::array<uint8_t, Size> bytes_{};
    size_t copied_ = 0;
};

// PLCI, CIP value, then the called party number structure, the calling party
// number structure and what follows, uninterpreted.
struct ConnectIndParams : ParameterRecord<4 + 2 + kRawParameterBytes> {
    uint32_t plci() const { return u32(0); }
    std::span<const uint8_t> numbers() const { return tail(6); }
};

struct ConnectConfParams : ParameterRecord<4 + 2> {
    uint32_t plci() const { return u32(0); }
    uint16_t info() const { return u16(4); }
};

struct ConnectActiveIndParams : ParameterRecord<4 + kRawParameterBytes> {
    uint32_t plci() const { return u32(0); }
};

struct ConnectB3IndParams : ParameterRecord<4 + 1> {
    uint32_t ncci() const { return u32(0); }
    uint8_t ncpiLength() const { return bytes()[4]; }
};

struct ConnectB3ConfParams : ParameterRecord<4 + 2> {
    uint32_t ncci() const { return u32(0); }
    uint16_t info() const { return u16(4); }
};

struct ConnectB3ActiveIndParams : ParameterRecord<4 + kRawParameterBytes> {
    uint32_t ncci() const { return u32(0); }
};

struct DisconnectIndParams : ParameterRecord<4 + 2> {
    uint32_t plci() const { return u32(0); }
    uint16_t reason() const { return u16(4); }
};

struct DisconnectB3IndParams : ParameterRecord<4> {
    uint32_t ncci() const { return u32(0); }
};

struct DisconnectB3ConfParams : ParameterRecord<4> {
    uint32_t ncci() const { return u32(0); }
};

// NCCI, Data, Data length, Data handle, Flags, and on 64-bit hosts Data64.
struct DataB3IndParams : ParameterRecord<kDataB3MessageLength - kHeaderSize> {
    uint32_t ncci() const { return u32(0); }
    uint16_t dataLength() const { return u16(8); }
    uint16_t dataHandle() const { return u16(10); }
    uint16_t flags() const { return u16(12); }
    const uint8_t* data() const {
        uintptr_t pointer = u32(4);
        if constexpr (kDataB3Uses64BitPointer) {
            if (copied() >= kSize) {
                pointer = static_cast<uintptr_t>(u64(14));
            }
        }
        return reinterpret_cast<const uint8_t*>(pointer);
    }
};

struct DataB3ConfParams : ParameterRecord<4 + 2 + 2> {
    uint32_t ncci() const { return u32(0); }
    uint16_t dataHandle() const { return u16(4); }
    uint16_t info() const { return u16(6); }
};

// Address (PLCI or NCCI), facility selector, then the facility indication
// parameter structure: for DTMF a length byte and the reported characters.
struct FacilityIndParams : ParameterRecord<4 + 2 + kRawParameterBytes> {
    uint32_t address() const { return u32(0); }
    uint16_t selector() const { return u16(4); }
    std::span<const uint8_t> parameter() const { return tail(6); }
};

// Taken and kept, never read.
struct FacilityConfParams : ParameterRecord<kRawParameterBytes> {};

struct ResetB3IndParams : ParameterRecord<4> {
    uint32_t ncci() const { return u32(0); }
};

}  // namespace tellmaro::capi
