#include "exchange/controller/in_process_driver.h"

#include <algorithm>

#include "capi/byte_order.h"
#include "capi/message_header.h"

namespace tellmaro::exchange {

namespace {

using capi::Command;
using capi::Subcommand;

// DATA_B3 field offsets.
constexpr size_t kAddress = 8;
constexpr size_t kData32 = 12;
constexpr size_t kDataLength = 16;
constexpr size_t kIndHandle = 18;
constexpr size_t kData64 = 22;
constexpr size_t kRespHandle = 12;  // DATA_B3_RESP
constexpr size_t kLayout32 = 22;
constexpr size_t kLayout64 = 30;

constexpr uint32_t kPlciMask = 0xFFFF;
constexpr uint32_t kNcciMask = 0xFFFFFFFF;

}  // namespace

uint32_t InProcessDriver::registerApplication(const capi::RegisterParams& params,
                                              uint32_t& applId) {
    controller_.runDueEvents();
    return controller_.registerApplication(params, applId);
}

uint32_t InProcessDriver::release(uint32_t applId) {
    controller_.runDueEvents();
    std::erase_if(blocks_, [&](const HeldBlock& b) { return b.applId == applId; });
    return controller_.release(applId);
}

// Where libcapi20 takes a DATA_B3_REQ's block from: Data64 when the message
// has the 64-bit layout and Data64 is set, the 32-bit Data field otherwise.
std::span<const uint8_t> InProcessDriver::requestData(std::span<const uint8_t> message) const {
    auto header = capi::readHeader(message);
    if (!header || !header->is(Command::DataB3, Subcommand::Req) || header->length < kLayout32 ||
        message.size() < kLayout32) {
        return {};
    }
    uint64_t pointer = 0;
    if (header->length >= kLayout64 && message.size() >= kLayout64) {
        pointer = capi::readU64(message, kData64);
    }
    if (pointer == 0) {
        pointer = capi::readU32(message, kData32);
    }
    uint16_t length = capi::readU16(message, kDataLength);
    if (pointer == 0 || length > kAudioBlockSize) {
        return {};  // the controller refuses the request; nothing to read
    }
    return {reinterpret_cast<const uint8_t*>(static_cast<uintptr_t>(pointer)), length};
}

uint32_t InProcessDriver::putMessage(uint32_t applId, std::span<const uint8_t> message) {
    controller_.runDueEvents();
    uint32_t result = controller_.put(applId, message, requestData(message));
    auto header = capi::readHeader(message);
    if (result != capi::kCapiOk || !header || message.size() < kAddress + 4) {
        return result;
    }
    uint32_t address = capi::readU32(message, kAddress);
    if (header->is(Command::DataB3, Subcommand::Resp) && message.size() >= kRespHandle + 2) {
        forget(applId, address, kNcciMask, capi::readU16(message, kRespHandle));
    } else if (header->is(Command::DisconnectB3, Subcommand::Resp)) {
        forget(applId, address, kNcciMask);
    }
    return result;
}

uint32_t InProcessDriver::getMessage(uint32_t applId, std::span<const uint8_t>& message) {
    controller_.runDueEvents();
    std::vector<uint8_t> block;
    uint32_t result = controller_.get(applId, current_, block);
    if (result != capi::kCapiOk) {
        return result;
    }
    auto header = capi::readHeader(current_);
    if (header->is(Command::DataB3, Subcommand::Ind)) {
        hold(applId, std::move(block));
    } else if (header->is(Command::Disconnect, Subcommand::Ind)) {
        // As libcapi20 does: a cleared call frees the buffers of its B3 connections.
        forget(applId, capi::readU32(current_, kAddress), kPlciMask);
    }
    message = current_;
    return result;
}

void InProcessDriver::hold(uint32_t applId, std::vector<uint8_t> block) {
    auto bytes = std::make_unique<std::vector<uint8_t>>(std::move(block));
    auto pointer = reinterpret_cast<uintptr_t>(bytes->data());
    if (current_.size() >= kLayout64) {
        capi::writeU32(current_, kData32, 0);
        capi::writeU64(current_, kData64, pointer);
    } else {
        capi::writeU32(current_, kData32, static_cast<uint32_t>(pointer));
    }
    blocks_.push_back({applId, capi::readU32(current_, kAddress),
                       capi::readU16(current_, kIndHandle), std::move(bytes)});
}

void InProcessDriver::forget(uint32_t applId, uint32_t address, uint32_t mask,
                             std::optional<uint16_t> handle) {
    std::erase_if(blocks_, [&](const HeldBlock& b) {
        return b.applId == applId && (b.ncci & mask) == (address & mask) &&
               (!handle || b.handle == *handle);
    });
}

}  // namespace tellmaro::exchange
