#include "capi/message_trace.h"

#include <cstdio>
#include <string_view>

#include "capi/byte_order.h"
#include "capi/message_header.h"
#include "capi/message_schema.h"

namespace tellmaro::capi {

namespace {

void appendf(std::string& out, const char* format, auto... args) {
    char buffer[64];
    int n = std::snprintf(buffer, sizeof buffer, format, args...);
    if (n > 0) {
        out.append(buffer, std::min(static_cast<size_t>(n), sizeof buffer - 1));
    }
}

bool printable(std::span<const uint8_t> bytes) {
    for (uint8_t b : bytes) {
        if (b < 0x20 || b > 0x7E || b == '"') {
            return false;
        }
    }
    return !bytes.empty();
}

void appendBytes(std::string& out, std::span<const uint8_t> bytes) {
    if (printable(bytes)) {
        out += '"';
        out.append(bytes.begin(), bytes.end());
        out += '"';
        return;
    }
    out += '[';
    for (size_t i = 0; i < bytes.size(); ++i) {
        appendf(out, i == 0 ? "%02X" : " %02X", bytes[i]);
    }
    out += ']';
}

// A number structure: its type octets in hex, then the digits as text.
void appendNumber(std::string& out, std::span<const uint8_t> content, size_t typeOctets) {
    if (content.size() < typeOctets) {
        appendBytes(out, content);
        return;
    }
    for (size_t i = 0; i < typeOctets; ++i) {
        appendf(out, "%02X:", content[i]);
    }
    out += '"';
    out.append(content.begin() + static_cast<ptrdiff_t>(typeOctets), content.end());
    out += '"';
}

// Appends " Name=value" and returns the bytes the parameter used, or 0 when
// the message ends inside it (after saying so).
size_t appendParam(std::string& out, const ParamSpec& spec, std::span<const uint8_t> rest) {
    out += ' ';
    out.append(spec.name);
    out += '=';
    size_t size = paramFixedSize(spec.kind);
    if (size == 0) {
        if (rest.empty()) {
            out += "<missing>";
            return 0;
        }
        size_t length = rest[0];
        if (length == 0xFF) {
            out += "<escaped struct>";
            return 0;
        }
        if (1 + length > rest.size()) {
            appendf(out, "<struct of %zu overruns the message by %zu>", length,
                    1 + length - rest.size());
            return 0;
        }
        auto content = rest.subspan(1, length);
        if (spec.kind == ParamKind::CalledNumber) {
            appendNumber(out, content, 1);
        } else if (spec.kind == ParamKind::CallingNumber) {
            appendNumber(out, content, 2);
        } else {
            appendBytes(out, content);
        }
        return 1 + length;
    }
    if (size > rest.size()) {
        out += "<missing>";
        return 0;
    }
    switch (spec.kind) {
        case ParamKind::Word:
            appendf(out, "%u", readU16(rest, 0));
            break;
        case ParamKind::Code:
            appendf(out, "0x%04X", readU16(rest, 0));
            break;
        case ParamKind::Dword:
            appendf(out, "0x%08X", readU32(rest, 0));
            break;
        case ParamKind::Address:
            appendf(out, "0x%08X", readU32(rest, 0));
            break;
        case ParamKind::DataPointer:
            appendf(out, "0x%08X", readU32(rest, 0));
            break;
        case ParamKind::DataPointer64:
            appendf(out, "0x%016llX", static_cast<unsigned long long>(readU64(rest, 0)));
            break;
        default:
            break;
    }
    return size;
}

}  // namespace

std::string describeMessage(std::span<const uint8_t> message) {
    auto header = readHeader(message);
    if (!header) {
        std::string out = "<short message of ";
        appendf(out, "%zu bytes>", message.size());
        return out;
    }
    std::string out;
    std::string_view command = commandName(header->command);
    std::string_view subcommand = subcommandName(header->subcommand);
    if (command.empty() || subcommand.empty()) {
        appendf(out, "UNKNOWN(0x%02X/0x%02X)", header->command, header->subcommand);
    } else {
        out.append(command);
        out += '_';
        out.append(subcommand);
    }
    appendf(out, " appl=%u #%u len=%u", header->applId, header->messageNumber, header->length);

    size_t end = std::min<size_t>(header->length, message.size());
    if (header->length > message.size()) {
        appendf(out, " (only %zu bytes present)", message.size());
    }
    if (end < kHeaderSize) {
        return out;
    }
    auto params = message.subspan(kHeaderSize, end - kHeaderSize);
    auto schema = parameterSchema(header->command, header->subcommand);
    size_t offset = 0;
    for (const auto& spec : schema) {
        if (spec.kind == ParamKind::DataPointer64 && offset >= params.size()) {
            break;  // the 32-bit layout ends before Data64
        }
        size_t used = appendParam(out, spec, params.subspan(offset));
        if (used == 0) {
            return out;
        }
        offset += used;
    }
    if (offset < params.size()) {
        appendf(out, " +%zu bytes", params.size() - offset);
    }
    return out;
}

}  // namespace tellmaro::capi
