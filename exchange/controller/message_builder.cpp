#include "exchange/controller/message_builder.h"

#include "capi/byte_order.h"

namespace tellmaro::exchange {

namespace {

constexpr uint8_t kEscape = 0xFF;
constexpr size_t kLongestShortStruct = 0xFE;

}  // namespace

MessageBuilder::MessageBuilder(capi::Command command, capi::Subcommand subcommand, uint16_t applId,
                               uint16_t messageNumber)
    : bytes_(capi::kHeaderSize) {
    capi::writeU16(bytes_, capi::kApplIdOffset, applId);
    bytes_[capi::kCommandOffset] = static_cast<uint8_t>(command);
    bytes_[capi::kSubcommandOffset] = static_cast<uint8_t>(subcommand);
    capi::writeU16(bytes_, capi::kMessageNumberOffset, messageNumber);
}

MessageBuilder& MessageBuilder::word(uint16_t value) {
    bytes_.push_back(static_cast<uint8_t>(value));
    bytes_.push_back(static_cast<uint8_t>(value >> 8));
    return *this;
}

MessageBuilder& MessageBuilder::dword(uint32_t value) {
    word(static_cast<uint16_t>(value));
    return word(static_cast<uint16_t>(value >> 16));
}

MessageBuilder& MessageBuilder::qword(uint64_t value) {
    dword(static_cast<uint32_t>(value));
    return dword(static_cast<uint32_t>(value >> 32));
}

MessageBuilder& MessageBuilder::structure(std::span<const uint8_t> content) {
    if (content.size() > kLongestShortStruct) {
        bytes_.push_back(kEscape);
        word(static_cast<uint16_t>(content.size()));
    } else {
        bytes_.push_back(static_cast<uint8_t>(content.size()));
    }
    bytes_.insert(bytes_.end(), content.begin(), content.end());
    return *this;
}

MessageBuilder& MessageBuilder::emptyStructs(size_t count) {
    bytes_.insert(bytes_.end(), count, 0);
    return *this;
}

std::vector<uint8_t> MessageBuilder::take() {
    capi::writeU16(bytes_, capi::kLengthOffset, static_cast<uint16_t>(bytes_.size()));
    return std::move(bytes_);
}

}  // namespace tellmaro::exchange
