#pragma once
// Framing of the remote-CAPI protocol that libcapi20's rcapi module speaks:
// every frame is a 2-byte big-endian length that counts itself, then the
// body. A body is either a special request (register, the controller
// queries) or a CAPI message, with a DATA_B3 message's data block appended.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "capi/capi_driver.h"

namespace tellmaro::exchange::rcapi {

inline constexpr size_t kLengthBytes = 2;
// The client reads answers into a 4096-byte buffer without checking.
inline constexpr size_t kMaxFrame = 4096;

enum class SpecialCommand : uint16_t {
    Register = 0xF2FF,
    GetManufacturer = 0xFAFF,
    GetVersion = 0xFCFF,
    GetSerialNumber = 0xFEFF,
    GetProfile = 0xE0FF,
};

struct SpecialRequest {
    SpecialCommand command;
    uint32_t controller = 0;
    capi::RegisterParams registerParams;  // for Register only
    std::vector<uint8_t> body;            // kept to mirror its bytes in the answer
};

struct MessageRequest {
    std::vector<uint8_t> message;  // header and parameters, as its Length says
    std::vector<uint8_t> data;     // what followed the message in the frame
};

using Request = std::variant<SpecialRequest, MessageRequest>;

// Splits a byte stream into frame bodies. Bytes may arrive in any pieces.
// It holds at most kCapacity unread bytes: take the frames out after every
// piece of at most kCapacity - kMaxFrame bytes and it never runs out of room.
class FrameReader {
  public:
    static constexpr size_t kCapacity = 4 * kMaxFrame;

    // More than kCapacity unread bytes make the stream unusable.
    void append(std::span<const uint8_t> bytes);
    // The next complete body, if one is there; malformed lengths (below 2 or
    // above kMaxFrame) make the stream unusable, reported by failed().
    std::optional<std::vector<uint8_t>> next();
    bool failed() const { return !error_.empty(); }
    const std::string& error() const { return error_; }
    bool hasPartialFrame() const { return end_ > start_; }

  private:
    // kCapacity bytes once used; the unread ones lie from start_ to end_ and
    // are moved to the front only when an append needs the room behind them
    // (a partial frame at most, when the frames are taken out in between).
    std::vector<uint8_t> buffer_;
    size_t start_ = 0;
    size_t end_ = 0;
    std::string error_;
};

// Interprets one body from the client; an error text for anything that is
// neither a known special request nor a plausible CAPI message.
struct ParsedRequest {
    std::optional<Request> request;
    std::string error;
};
ParsedRequest parseRequest(std::span<const uint8_t> body);

// Answers and messages from the server, each as a complete frame.
std::vector<uint8_t> registerAnswer(const SpecialRequest& request, uint16_t info);
std::vector<uint8_t> manufacturerAnswer(const SpecialRequest& request,
                                        const capi::ManufacturerName& name);
std::vector<uint8_t> versionAnswer(const SpecialRequest& request, const capi::CapiVersion& version);
std::vector<uint8_t> serialNumberAnswer(const SpecialRequest& request, std::string_view serial);
std::vector<uint8_t> profileAnswer(const SpecialRequest& request, uint16_t info,
                                   std::span<const uint8_t> profile);
// A CAPI message, followed by its data block for DATA_B3_IND.
std::vector<uint8_t> messageFrame(std::span<const uint8_t> message,
                                  std::span<const uint8_t> data = {});

}  // namespace tellmaro::exchange::rcapi
