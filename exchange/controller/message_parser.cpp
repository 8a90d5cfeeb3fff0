#include "exchange/controller/message_parser.h"

#include "capi/byte_order.h"
#include "exchange/controller/capi_structures.h"

namespace tellmaro::exchange {

namespace {

using capi::Command;
using capi::ParamKind;
using capi::Subcommand;

// CAPI refuses anything shorter: the header and one 32-bit address.
constexpr size_t kMinimumLength = 12;

uint64_t readFixed(std::span<const uint8_t> bytes, size_t size) {
    switch (size) {
        case 2:
            return capi::readU16(bytes, 0);
        case 4:
            return capi::readU32(bytes, 0);
        default:
            return capi::readU64(bytes, 0);
    }
}

ParseResult frameFailure(ParseResult result, std::string problem) {
    result.failure = ParseFailure::Frame;
    result.problem = std::move(problem);
    return result;
}

}  // namespace

ParseResult parseApplicationMessage(std::span<const uint8_t> bytes) {
    ParseResult result;
    auto header = capi::readHeader(bytes);
    if (!header) {
        return frameFailure(std::move(result),
                            "only " + std::to_string(bytes.size()) + " bytes, not even a header");
    }
    ParsedMessage& message = result.message;
    message.header = *header;
    if (header->length < kMinimumLength) {
        return frameFailure(std::move(result),
                            "Length " + std::to_string(header->length) + " is below 12");
    }
    if (header->length > bytes.size()) {
        return frameFailure(std::move(result), "Length " + std::to_string(header->length) +
                                                   " but only " + std::to_string(bytes.size()) +
                                                   " bytes given");
    }
    auto schema = capi::parameterSchema(header->command, header->subcommand);
    if (schema.empty()) {
        return frameFailure(std::move(result), "unknown command or subcommand");
    }
    if (header->subcommand != static_cast<uint8_t>(Subcommand::Req) &&
        header->subcommand != static_cast<uint8_t>(Subcommand::Resp)) {
        return frameFailure(std::move(result), "an application sends only requests and responses");
    }
    message.bytes = bytes.first(header->length);

    bool lastMayOverrun = header->is(Command::Facility, Subcommand::Req);
    auto params = message.bytes.subspan(capi::kHeaderSize);
    size_t offset = 0;
    for (size_t i = 0; i < schema.size(); ++i) {
        const auto& field = schema[i];
        ParsedParam param;
        param.kind = field.kind;
        auto rest = params.subspan(offset);
        size_t size = capi::paramFixedSize(field.kind);
        if (field.kind == ParamKind::DataPointer64 && rest.empty()) {
            message.params.push_back(param);  // the 32-bit layout ends before it
            continue;
        }
        if (size > 0) {
            if (rest.size() < size) {
                result.failure = ParseFailure::Coding;
                result.problem = std::string(field.name) + " missing";
                return result;
            }
            param.value = readFixed(rest, size);
        } else {
            auto view = readStruct(rest);
            if (!view) {
                result.failure = ParseFailure::Coding;
                result.problem = std::string(field.name) + " missing";
                return result;
            }
            bool tolerated = lastMayOverrun && i + 1 == schema.size() && view->overrun == 1;
            if (view->overrun > 0 && !tolerated) {
                result.failure = ParseFailure::Coding;
                result.problem = std::string(field.name) + " overruns the message by " +
                                 std::to_string(view->overrun) + " bytes";
                return result;
            }
            param.content = view->content;
            size = view->size;
        }
        param.present = true;
        message.params.push_back(param);
        offset += size;
    }
    message.trailingBytes = params.size() - offset;
    return result;
}

}  // namespace tellmaro::exchange
