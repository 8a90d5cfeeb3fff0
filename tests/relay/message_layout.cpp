#include "message_layout.h"

#include <cstdio>
#include <vector>

#include "capi/byte_order.h"
#include "capi/message_header.h"

namespace tellmaro::test {

namespace {

enum class Kind { U16, U32, Bytes, Text, Pointer };

struct Field {
    size_t offset;
    size_t size;
    Kind kind;
};

struct Layout {
    const char* name;
    uint8_t command;
    uint8_t subcommand;
    size_t length;
    std::vector<Field> fields;
};

constexpr uint8_t kReq = 0x80;
constexpr uint8_t kResp = 0x83;

Field u16(size_t offset) {
    return {offset, 2, Kind::U16};
}
Field u32(size_t offset) {
    return {offset, 4, Kind::U32};
}
Field bytes(size_t offset, size_t size) {
    return {offset, size, Kind::Bytes};
}
Field text(size_t offset, size_t size) {
    return {offset, size, Kind::Text};
}

// The layouts of every message the relay sends, offsets from the start of
// the message; the fields of each cover every byte after the header.
const std::vector<Layout>& layouts() {
    static const std::vector<Layout> table = {
        {"LISTEN_REQ",
         0x05,
         kReq,
         26,
         {u32(8), u32(12), u32(16), u32(20), bytes(24, 1), bytes(25, 1)}},
        {"ALERT_REQ", 0x01, kReq, 17, {u32(8), bytes(12, 5)}},
        {"CONNECT_REQ",
         0x02,
         kReq,
         63,
         {u32(8), u16(12), bytes(14, 2), bytes(16, 3), text(19, 20), bytes(39, 1), bytes(40, 1),
          bytes(41, 5), bytes(46, 2), bytes(48, 1), bytes(49, 5), bytes(54, 2), bytes(56, 3),
          bytes(59, 4)}},
        {"CONNECT_REQ",
         0x02,
         kReq,
         83,
         {u32(8), u16(12), bytes(14, 2), text(16, 20), bytes(36, 3), text(39, 20), bytes(59, 1),
          bytes(60, 1), bytes(61, 5), bytes(66, 2), bytes(68, 1), bytes(69, 5), bytes(74, 2),
          bytes(76, 3), bytes(79, 4)}},
        {"CONNECT_RESP",
         0x02,
         kResp,
         64,
         {u32(8), u16(12), bytes(14, 16), bytes(30, 2), bytes(32, 32)}},
        {"CONNECT_RESP",
         0x02,
         kResp,
         59,
         {u32(8), u16(12), bytes(14, 10), bytes(24, 2), text(26, 20), bytes(46, 1), bytes(47, 12)}},
        {"CONNECT_ACTIVE_RESP", 0x03, kResp, 12, {u32(8)}},
        {"CONNECT_B3_REQ", 0x82, kReq, 13, {u32(8), bytes(12, 1)}},
        {"CONNECT_B3_RESP", 0x82, kResp, 15, {u32(8), u16(12), bytes(14, 1)}},
        {"CONNECT_B3_ACTIVE_RESP", 0x83, kResp, 12, {u32(8)}},
        {"INFO_REQ",
         0x08,
         kReq,
         17,
         {u32(8), bytes(12, 1), bytes(13, 1), bytes(14, 1), bytes(15, 1), text(16, 1)}},
        {"FACILITY_REQ",
         0x80,
         kReq,
         23,
         {u32(8), u16(12), bytes(14, 1), u16(15), u16(17), u16(19), bytes(21, 2)}},
        {"FACILITY_RESP", 0x80, kResp, 17, {u32(8), u16(12), bytes(14, 3)}},
        {"DISCONNECT_REQ", 0x04, kReq, 13, {u32(8), bytes(12, 1)}},
        {"DISCONNECT_RESP", 0x04, kResp, 12, {u32(8)}},
        {"DISCONNECT_B3_REQ", 0x84, kReq, 13, {u32(8), bytes(12, 1)}},
        {"DISCONNECT_B3_RESP", 0x84, kResp, 12, {u32(8)}},
        {"DATA_B3_REQ",
         0x86,
         kReq,
         22,
         {u32(8), {12, 4, Kind::Pointer}, u16(16), u16(18), u16(20)}},
        {"DATA_B3_REQ",
         0x86,
         kReq,
         30,
         {u32(8), u32(12), u16(16), u16(18), u16(20), {22, 8, Kind::Pointer}}},
        {"DATA_B3_RESP", 0x86, kResp, 14, {u32(8), u16(12)}},
        {"RESET_B3_REQ", 0x87, kReq, 13, {u32(8), bytes(12, 1)}},
        {"RESET_B3_RESP", 0x87, kResp, 12, {u32(8)}},
    };
    return table;
}

std::string hex(std::span<const uint8_t> data) {
    std::string out;
    char digits[4];
    for (uint8_t b : data) {
        std::snprintf(digits, sizeof digits, "%02X", b);
        out += digits;
    }
    return out;
}

std::string value(const SentMessage& message, const Field& field) {
    std::span<const uint8_t> bytes(message.bytes);
    char number[24];
    switch (field.kind) {
        case Kind::U16:
            return std::to_string(capi::readU16(bytes, field.offset));
        case Kind::U32:
            std::snprintf(number, sizeof number, "0x%08X", capi::readU32(bytes, field.offset));
            return number;
        case Kind::Bytes:
            return hex(bytes.subspan(field.offset, field.size));
        case Kind::Text:
            return "\"" +
                   std::string(bytes.begin() + static_cast<ptrdiff_t>(field.offset),
                               bytes.begin() + static_cast<ptrdiff_t>(field.offset + field.size)) +
                   "\"";
        case Kind::Pointer:
            return message.block.empty() ? "&prompt" : "&block " + message.block;
    }
    return "?";
}

}  // namespace

std::string layoutOf(const SentMessage& message) {
    auto header = capi::readHeader(message.bytes);
    if (!header) {
        return "short message " + hex(message.bytes);
    }
    for (const Layout& layout : layouts()) {
        if (layout.command != header->command || layout.subcommand != header->subcommand ||
            layout.length != message.bytes.size() || header->length != layout.length) {
            continue;
        }
        std::string out = std::string(layout.name) + " #" + std::to_string(header->messageNumber);
        if (header->applId != 1) {
            out += " appl " + std::to_string(header->applId);
        }
        for (const Field& field : layout.fields) {
            out += " " + std::to_string(field.offset) + ":" + value(message, field);
        }
        return out;
    }
    return "no layout for " + hex(message.bytes);
}

::testing::AssertionResult sentAsListed(const EngineHarness& h,
                                        const std::vector<std::string>& expected, size_t from) {
    std::vector<std::string> actual;
    for (size_t i = from; i < h.sentMessages().size(); ++i) {
        actual.push_back(layoutOf(h.sentMessages()[i]));
    }
    size_t i = 0;
    while (i < expected.size() && i < actual.size() && expected[i] == actual[i]) {
        ++i;
    }
    if (i == expected.size() && i == actual.size()) {
        return ::testing::AssertionSuccess();
    }
    auto failure = ::testing::AssertionFailure();
    failure << "message " << i << " of " << actual.size() << " sent (" << expected.size()
            << " expected)\n  expected: " << (i < expected.size() ? expected[i] : "nothing")
            << "\n  sent:     " << (i < actual.size() ? actual[i] : "nothing")
            << "\nsent before and after it:\n";
    for (size_t j = i >= 3 ? i - 3 : 0; j < actual.size() && j < i + 4; ++j) {
        failure << (j == i ? "> " : "  ") << actual[j] << "\n";
    }
    return failure;
}

}  // namespace tellmaro::test
