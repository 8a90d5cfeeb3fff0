#include "exchange/simulated/audio_block.h"

#include <algorithm>

#include "capi/byte_order.h"

namespace tellmaro::exchange {

namespace {

constexpr uint8_t kMagic[] = {'T', 'L', 'M', 'A'};
constexpr size_t kPartyOffset = 4;
constexpr size_t kSequenceOffset = 8;
constexpr size_t kBodyOffset = 12;

constexpr uint64_t kFnvOffset = 0xcbf29ce484222325ULL;
constexpr uint64_t kFnvPrime = 0x100000001b3ULL;

// splitmix64: a cheap generator whose whole sequence follows from its seed.
uint64_t nextRandom(uint64_t& state) {
    uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

void fillBlock(AudioBlockId id, std::span<uint8_t> block) {
    std::copy(std::begin(kMagic), std::end(kMagic), block.begin());
    capi::writeU32(block, kPartyOffset, id.party);
    capi::writeU32(block, kSequenceOffset, id.sequence);
    uint64_t state = (static_cast<uint64_t>(id.party) << 32) | id.sequence;
    for (size_t i = kBodyOffset; i < block.size(); i += sizeof(uint64_t)) {
        uint64_t value = nextRandom(state);
        for (size_t b = 0; b < sizeof(uint64_t) && i + b < block.size(); ++b) {
            block[i + b] = static_cast<uint8_t>(value >> (8 * b));
        }
    }
}

}  // namespace

std::vector<uint8_t> makeAudioBlock(AudioBlockId id) {
    std::vector<uint8_t> block(kAudioBlockSize);
    fillBlock(id, block);
    return block;
}

uint64_t audioBlockHash(std::span<const uint8_t> bytes) {
    uint64_t hash = kFnvOffset;
    for (uint8_t b : bytes) {
        hash = (hash ^ b) * kFnvPrime;
    }
    return hash;
}

BlockOrigin recogniseAudioBlock(std::span<const uint8_t> bytes) {
    if (bytes.size() != kAudioBlockSize ||
        !std::equal(std::begin(kMagic), std::end(kMagic), bytes.begin())) {
        return {};
    }
    AudioBlockId id{capi::readU32(bytes, kPartyOffset), capi::readU32(bytes, kSequenceOffset)};
    uint8_t expected[kAudioBlockSize];
    fillBlock(id, expected);
    return {id, !std::equal(bytes.begin(), bytes.end(), std::begin(expected))};
}

}  // namespace tellmaro::exchange
