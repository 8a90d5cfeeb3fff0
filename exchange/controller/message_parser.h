#pragma once
// Strict reading of a message an application puts: the header, then every
// parameter of its CAPI 2.0 parameter list, each within the message's Length.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "capi/message_header.h"
#include "capi/message_schema.h"

namespace tellmaro::exchange {

struct ParsedParam {
    capi::ParamKind kind = capi::ParamKind::Word;
    bool present = false;
    uint64_t value = 0;                // fixed-size parameters
    std::span<const uint8_t> content;  // structures: the bytes inside
};

struct ParsedMessage {
    capi::MessageHeader header;
    std::span<const uint8_t> bytes;  // the message as far as its Length goes
    std::vector<ParsedParam> params;
    size_t trailingBytes = 0;  // after the last parameter; tolerated

    bool is(capi::Command c, capi::Subcommand s) const { return header.is(c, s); }
    uint16_t word(size_t index) const { return static_cast<uint16_t>(params[index].value); }
    uint32_t dword(size_t index) const { return static_cast<uint32_t>(params[index].value); }
    uint64_t qword(size_t index) const { return params[index].value; }
    std::span<const uint8_t> content(size_t index) const { return params[index].content; }
    bool has(size_t index) const { return index < params.size() && params[index].present; }
};

enum class ParseFailure {
    None,
    Frame,   // unusable as a message: the put itself is refused
    Coding,  // a parameter does not fit: a request is confirmed with an error
};

struct ParseResult {
    ParsedMessage message;
    ParseFailure failure = ParseFailure::None;
    std::string problem;
};

// `bytes` may hold more than the message's Length; only Length bytes count.
// The one structure allowed to claim more than the message holds is the
// last one of a FACILITY_REQ, by one byte, as controllers accept it.
ParseResult parseApplicationMessage(std::span<const uint8_t> bytes);

}  // namespace tellmaro::exchange
