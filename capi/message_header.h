#pragma once
// The 8-byte CAPI 2.0 message header and the command and subcommand values.

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace tellmaro::capi {

enum class Command : uint8_t {
    Alert = 0x01,
    Connect = 0x02,
    ConnectActive = 0x03,
    Disconnect = 0x04,
    Listen = 0x05,
    Info = 0x08,
    Facility = 0x80,
    SelectBProtocol = 0x41,
    ConnectB3 = 0x82,
    ConnectB3Active = 0x83,
    DisconnectB3 = 0x84,
    DataB3 = 0x86,
    ResetB3 = 0x87,
    ConnectB3T90Active = 0x88,
    Manufacturer = 0xFF,
};

enum class Subcommand : uint8_t {
    Req = 0x80,
    Conf = 0x81,
    Ind = 0x82,
    Resp = 0x83,
};

inline constexpr size_t kHeaderSize = 8;

// Header field offsets.
inline constexpr size_t kLengthOffset = 0;
inline constexpr size_t kApplIdOffset = 2;
inline constexpr size_t kCommandOffset = 4;
inline constexpr size_t kSubcommandOffset = 5;
inline constexpr size_t kMessageNumberOffset = 6;

struct MessageHeader {
    uint16_t length = 0;
    uint16_t applId = 0;
    uint8_t command = 0;
    uint8_t subcommand = 0;
    uint16_t messageNumber = 0;

    bool is(Command c, Subcommand s) const {
        return command == static_cast<uint8_t>(c) && subcommand == static_cast<uint8_t>(s);
    }
};

// Reads the header of a message; nothing if fewer than 8 bytes are given.
std::optional<MessageHeader> readHeader(std::span<const uint8_t> message);

// "CONNECT", "DATA_B3", ...; empty for a value outside CAPI 2.0.
std::string_view commandName(uint8_t command);
// "REQ", "CONF", "IND", "RESP"; empty for any other value.
std::string_view subcommandName(uint8_t subcommand);

}  // namespace tellmaro::capi
