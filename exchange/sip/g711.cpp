#include "exchange/sip/g711.h"

#include <algorithm>
#include <array>

namespace tellmaro::sip {

namespace {

constexpr std::array<uint8_t, 256> kReversed = [] {
    std::array<uint8_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned r = 0;
        for (unsigned bit = 0; bit < 8; ++bit) {
            r |= ((i >> bit) & 1u) << (7 - bit);
        }
        table[i] = static_cast<uint8_t>(r);
    }
    return table;
}();

// ITU-T G.711 reference conversions.
constexpr int16_t decodeAlaw(uint8_t alaw) {
    int value = alaw ^ 0x55;
    int segment = (value & 0x70) >> 4;
    int sample = (value & 0x0F) << 4;
    sample += segment == 0 ? 8 : 0x108;
    if (segment > 1) {
        sample <<= segment - 1;
    }
    return static_cast<int16_t>((value & 0x80) ? sample : -sample);
}

constexpr int16_t decodeUlaw(uint8_t ulaw) {
    int value = ~ulaw & 0xFF;
    int sample = (((value & 0x0F) << 3) + 0x84) << ((value & 0x70) >> 4);
    return static_cast<int16_t>((value & 0x80) ? 0x84 - sample : sample - 0x84);
}

constexpr uint8_t encodeAlaw(int16_t linear) {
    int sample = linear >> 3;  // 13 significant bits
    int mask = 0xD5;
    if (sample < 0) {
        mask = 0x55;
        sample = -sample - 1;
    }
    constexpr int kSegmentEnds[8] = {0x1F, 0x3F, 0x7F, 0xFF, 0x1FF, 0x3FF, 0x7FF, 0xFFF};
    int segment = 0;
    while (segment < 8 && sample > kSegmentEnds[segment]) {
        ++segment;
    }
    if (segment >= 8) {
        return static_cast<uint8_t>(0x7F ^ mask);
    }
    int value = segment << 4;
    value |= segment < 2 ? (sample >> 1) & 0x0F : (sample >> segment) & 0x0F;
    return static_cast<uint8_t>(value ^ mask);
}

constexpr uint8_t encodeUlaw(int16_t linear) {
    constexpr int kBias = 0x84;
    constexpr int kSegmentEnds[8] = {0x3F, 0x7F, 0xFF, 0x1FF, 0x3FF, 0x7FF, 0xFFF, 0x1FFF};
    int sample = linear >> 2;  // 14 significant bits
    int mask = 0xFF;
    if (sample < 0) {
        sample = -sample;
        mask = 0x7F;
    }
    sample = std::min(sample, 8159) + (kBias >> 2);
    int segment = 0;
    while (segment < 8 && sample > kSegmentEnds[segment]) {
        ++segment;
    }
    if (segment >= 8) {
        return static_cast<uint8_t>(0x7F ^ mask);
    }
    int value = (segment << 4) | ((sample >> (segment + 1)) & 0x0F);
    return static_cast<uint8_t>(value ^ mask);
}

constexpr std::array<uint8_t, 256> kAlawToUlaw = [] {
    std::array<uint8_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        table[i] = encodeUlaw(decodeAlaw(static_cast<uint8_t>(i)));
    }
    return table;
}();

constexpr std::array<uint8_t, 256> kUlawToCapi = [] {
    std::array<uint8_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        table[i] = kReversed[encodeAlaw(decodeUlaw(static_cast<uint8_t>(i)))];
    }
    return table;
}();

}  // namespace

uint8_t bitReversed(uint8_t byte) {
    return kReversed[byte];
}
int16_t alawToLinear(uint8_t alaw) {
    return decodeAlaw(alaw);
}
int16_t ulawToLinear(uint8_t ulaw) {
    return decodeUlaw(ulaw);
}
uint8_t linearToAlaw(int16_t sample) {
    return encodeAlaw(sample);
}
uint8_t pcmuToCapi(uint8_t ulaw) {
    return kUlawToCapi[ulaw];
}
uint8_t pcmaToPcmu(uint8_t alaw) {
    return kAlawToUlaw[alaw];
}

}  // namespace tellmaro::sip
