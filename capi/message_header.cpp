#include "capi/message_header.h"

#include "capi/byte_order.h"

namespace tellmaro::capi {

std::optional<MessageHeader> readHeader(std::span<const uint8_t> message) {
    if (message.size() < kHeaderSize) {
        return std::nullopt;
    }
    return MessageHeader{
        .length = readU16(message, kLengthOffset),
        .applId = readU16(message, kApplIdOffset),
        .command = message[kCommandOffset],
        .subcommand = message[kSubcommandOffset],
        .messageNumber = readU16(message, kMessageNumberOffset),
    };
}

std::string_view commandName(uint8_t command) {
    switch (static_cast<Command>(command)) {
        case Command::Alert:
            return "ALERT";
        case Command::Connect:
            return "CONNECT";
        case Command::ConnectActive:
            return "CONNECT_ACTIVE";
        case Command::Disconnect:
            return "DISCONNECT";
        case Command::Listen:
            return "LISTEN";
        case Command::Info:
            return "INFO";
        case Command::Facility:
            return "FACILITY";
        case Command::SelectBProtocol:
            return "SELECT_B_PROTOCOL";
        case Command::ConnectB3:
            return "CONNECT_B3";
        case Command::ConnectB3Active:
            return "CONNECT_B3_ACTIVE";
        case Command::DisconnectB3:
            return "DISCONNECT_B3";
        case Command::DataB3:
            return "DATA_B3";
        case Command::ResetB3:
            return "RESET_B3";
        case Command::ConnectB3T90Active:
            return "CONNECT_B3_T90_ACTIVE";
        case Command::Manufacturer:
            return "MANUFACTURER";
    }
    return {};
}

std::string_view subcommandName(uint8_t subcommand) {
    switch (static_cast<Subcommand>(subcommand)) {
        case Subcommand::Req:
            return "REQ";
        case Subcommand::Conf:
            return "CONF";
        case Subcommand::Ind:
            return "IND";
        case Subcommand::Resp:
            return "RESP";
    }
    return {};
}

}  // namespace tellmaro::capi
