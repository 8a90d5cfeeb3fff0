#include "exchange/rcapi/rcapi_frame.h"

#include <algorithm>

#include "capi/byte_order.h"
#include "capi/message_header.h"

namespace tellmaro::exchange::rcapi {

namespace {

// Special request bodies: two zero words, the command (big-endian), a zero
// word, the controller (little-endian), then the request's parameters.
constexpr size_t kCommandOffset = 4;
constexpr size_t kControllerOffset = 8;
constexpr size_t kSpecialHeader = 12;
constexpr uint8_t kSpecialSubcommand = 0xFF;

// Answers: bytes 0-3 and 6-7 mirror the request, 4-5 hold the answer's
// command (big-endian), the payload starts at byte 8.
constexpr size_t kAnswerPayload = 8;

uint16_t readBigEndian16(std::span<const uint8_t> bytes, size_t offset) {
    return static_cast<uint16_t>((bytes[offset] << 8) | bytes[offset + 1]);
}

bool knownSpecial(uint16_t command) {
    switch (static_cast<SpecialCommand>(command)) {
        case SpecialCommand::Register:
        case SpecialCommand::GetManufacturer:
        case SpecialCommand::GetVersion:
        case SpecialCommand::GetSerialNumber:
        case SpecialCommand::GetProfile:
            return true;
    }
    return false;
}

std::vector<uint8_t> frame(std::vector<uint8_t> body) {
    size_t total = body.size() + kLengthBytes;
    body.insert(body.begin(), {static_cast<uint8_t>(total >> 8), static_cast<uint8_t>(total)});
    return body;
}

std::vector<uint8_t> answer(const SpecialRequest& request, uint16_t command,
                            std::span<const uint8_t> payload) {
    std::vector<uint8_t> body(kAnswerPayload, 0);
    std::copy_n(request.body.begin(), std::min<size_t>(kAnswerPayload, request.body.size()),
                body.begin());
    body[kCommandOffset] = static_cast<uint8_t>(command >> 8);
    body[kCommandOffset + 1] = static_cast<uint8_t>(command);
    body.insert(body.end(), payload.begin(), payload.end());
    return frame(std::move(body));
}

}  // namespace

void FrameReader::append(std::span<const uint8_t> bytes) {
    if (failed()) {
        return;
    }
    if (end_ - start_ + bytes.size() > kCapacity) {
        error_ = "more than " + std::to_string(kCapacity) + " bytes unread";
        return;
    }
    buffer_.resize(kCapacity);
    if (end_ + bytes.size() > kCapacity) {
        std::copy(buffer_.begin() + static_cast<ptrdiff_t>(start_),
                  buffer_.begin() + static_cast<ptrdiff_t>(end_), buffer_.begin());
        end_ -= start_;
        start_ = 0;
    }
    std::copy(bytes.begin(), bytes.end(), buffer_.begin() + static_cast<ptrdiff_t>(end_));
    end_ += bytes.size();
}

std::optional<std::vector<uint8_t>> FrameReader::next() {
    const auto unread = std::span<const uint8_t>(buffer_).subspan(start_, end_ - start_);
    if (failed() || unread.size() < kLengthBytes) {
        return std::nullopt;
    }
    size_t total = readBigEndian16(unread, 0);
    if (total < kLengthBytes || total > kMaxFrame) {
        error_ = "frame length " + std::to_string(total) + " out of range";
        return std::nullopt;
    }
    if (unread.size() < total) {
        return std::nullopt;
    }
    start_ += total;
    if (start_ == end_) {
        start_ = end_ = 0;
    }
    return std::vector<uint8_t>(unread.begin() + kLengthBytes,
                                unread.begin() + static_cast<ptrdiff_t>(total));
}

ParsedRequest parseRequest(std::span<const uint8_t> body) {
    if (body.size() < capi::kHeaderSize) {
        return {std::nullopt, "body of " + std::to_string(body.size()) + " bytes is too short"};
    }
    if (body[capi::kSubcommandOffset] == kSpecialSubcommand) {
        uint16_t command = readBigEndian16(body, kCommandOffset);
        if (!knownSpecial(command) || body.size() < kSpecialHeader) {
            return {std::nullopt, "unknown special request"};
        }
        SpecialRequest request{static_cast<SpecialCommand>(command),
                               capi::readU32(body, kControllerOffset),
                               {},
                               {body.begin(), body.end()}};
        if (request.command == SpecialCommand::Register) {
            // The client cuts off the last byte of the version word, so only
            // the four limits are read.
            constexpr size_t kLimits = kSpecialHeader + 8;
            if (body.size() < kLimits) {
                return {std::nullopt, "register request too short"};
            }
            request.registerParams = capi::RegisterParams{
                capi::readU16(body, kSpecialHeader), capi::readU16(body, kSpecialHeader + 2),
                capi::readU16(body, kSpecialHeader + 4), capi::readU16(body, kSpecialHeader + 6)};
        }
        return {std::move(request), {}};
    }
    size_t length = capi::readU16(body, capi::kLengthOffset);
    if (length < capi::kHeaderSize || length > body.size()) {
        return {std::nullopt, "message length " + std::to_string(length) +
                                  " does not fit a body of " + std::to_string(body.size()) +
                                  " bytes"};
    }
    MessageRequest request;
    request.message.assign(body.begin(), body.begin() + static_cast<ptrdiff_t>(length));
    request.data.assign(body.begin() + static_cast<ptrdiff_t>(length), body.end());
    return {std::move(request), {}};
}

std::vector<uint8_t> registerAnswer(const SpecialRequest& request, uint16_t info) {
    const uint8_t payload[2] = {static_cast<uint8_t>(info), static_cast<uint8_t>(info >> 8)};
    return answer(request, 0xF3FF, payload);
}

std::vector<uint8_t> manufacturerAnswer(const SpecialRequest& request,
                                        const capi::ManufacturerName& name) {
    std::vector<uint8_t> payload(1 + name.size(), 0);  // one byte the client skips
    std::copy(name.begin(), name.end(), payload.begin() + 1);
    payload.back() = 0;
    return answer(request, 0xFBFF, payload);
}

std::vector<uint8_t> versionAnswer(const SpecialRequest& request,
                                   const capi::CapiVersion& version) {
    std::vector<uint8_t> payload(1 + 16, 0);
    std::span<uint8_t> numbers(payload.data() + 1, 16);
    capi::writeU32(numbers, 0, version.capiMajor);
    capi::writeU32(numbers, 4, version.capiMinor);
    capi::writeU32(numbers, 8, version.manufacturerMajor);
    capi::writeU32(numbers, 12, version.manufacturerMinor);
    return answer(request, 0xFDFF, payload);
}

std::vector<uint8_t> serialNumberAnswer(const SpecialRequest& request, std::string_view serial) {
    std::vector<uint8_t> payload(1 + 8, 0);
    std::copy_n(serial.begin(), std::min<size_t>(serial.size(), 7), payload.begin() + 1);
    return answer(request, 0xFFFF, payload);
}

std::vector<uint8_t> profileAnswer(const SpecialRequest& request, uint16_t info,
                                   std::span<const uint8_t> profile) {
    std::vector<uint8_t> payload = {static_cast<uint8_t>(info), static_cast<uint8_t>(info >> 8)};
    payload.insert(payload.end(), profile.begin(), profile.end());
    return answer(request, 0xE1FF, payload);
}

std::vector<uint8_t> messageFrame(std::span<const uint8_t> message, std::span<const uint8_t> data) {
    std::vector<uint8_t> body(message.begin(), message.end());
    body.insert(body.end(), data.begin(), data.end());
    return frame(std::move(body));
}

}  // namespace tellmaro::exchange::rcapi
