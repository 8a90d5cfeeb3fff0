#pragma once
// Composes the messages the controller sends: header, then the parameters in
// order; the Length is written when the message is taken.

#include <cstdint>
#include <span>
#include <vector>

#include "capi/message_header.h"

namespace tellmaro::exchange {

class MessageBuilder {
  public:
    MessageBuilder(capi::Command command, capi::Subcommand subcommand, uint16_t applId,
                   uint16_t messageNumber);

    MessageBuilder& word(uint16_t value);
    MessageBuilder& dword(uint32_t value);
    MessageBuilder& qword(uint64_t value);
    // A structure holding `content` (an empty one is the single byte 0).
    MessageBuilder& structure(std::span<const uint8_t> content);
    MessageBuilder& emptyStructs(size_t count);

    std::vector<uint8_t> take();

  private:
    std::vector<uint8_t> bytes_;
};

}  // namespace tellmaro::exchange
