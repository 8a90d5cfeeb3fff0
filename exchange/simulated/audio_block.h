#pragma once
// The audio a simulated party sends: numbered 2048-byte blocks whose content
// follows from the party and the block's sequence number, so the receiving
// side can tell each block's origin and whether it arrived unaltered.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "exchange/controller/network.h"

namespace tellmaro::exchange {

struct AudioBlockId {
    uint32_t party = 0;
    uint32_t sequence = 0;
    bool operator==(const AudioBlockId&) const = default;
};

std::vector<uint8_t> makeAudioBlock(AudioBlockId id);

// FNV-1a over the bytes: how blocks that carry no number (prompts) are told apart.
uint64_t audioBlockHash(std::span<const uint8_t> bytes);

struct BlockOrigin {
    std::optional<AudioBlockId> id;  // the number it carries, if any
    bool damaged = false;            // carries a number but not that block's content
};

BlockOrigin recogniseAudioBlock(std::span<const uint8_t> bytes);

}  // namespace tellmaro::exchange
