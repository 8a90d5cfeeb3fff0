#include "exchange/controller/capi_structures.h"

#include "capi/byte_order.h"

namespace tellmaro::exchange {

namespace {

constexpr uint8_t kEscape = 0xFF;
constexpr size_t kWord = 2;
constexpr size_t kProtocolWords = 3;
constexpr size_t kConfigurations = 4;  // B1, B2, B3 and global configuration

// Reads consecutive structures into `out` until `content` ends; a structure
// that overruns `content` is a coding error.
template <size_t N>
void readList(std::span<const uint8_t> content, std::array<std::span<const uint8_t>, N>& out,
              const char* what, std::string& problem) {
    size_t offset = 0;
    for (size_t i = 0; i < N && offset < content.size(); ++i) {
        auto view = readStruct(content.subspan(offset));
        if (!view || view->overrun > 0) {
            problem =
                std::string(what) + " element " + std::to_string(i + 1) + " overruns its structure";
            return;
        }
        out[i] = view->content;
        offset += view->size;
    }
}

}  // namespace

std::optional<StructView> readStruct(std::span<const uint8_t> bytes) {
    if (bytes.empty()) {
        return std::nullopt;
    }
    size_t header = 1;
    size_t length = bytes[0];
    if (bytes[0] == kEscape) {
        if (bytes.size() < 3) {
            return std::nullopt;
        }
        header = 3;
        length = capi::readU16(bytes, 1);
    }
    StructView view;
    size_t available = bytes.size() - header;
    view.overrun = length > available ? length - available : 0;
    view.content = bytes.subspan(header, length - view.overrun);
    view.size = header + length - view.overrun;
    return view;
}

BProtocol parseBProtocol(std::span<const uint8_t> content, std::string& problem) {
    BProtocol protocol;
    if (content.size() == 1) {
        protocol.b1 = content[0];
        return protocol;
    }
    uint16_t* words[kProtocolWords] = {&protocol.b1, &protocol.b2, &protocol.b3};
    size_t offset = 0;
    for (size_t i = 0; i < kProtocolWords && offset < content.size(); ++i) {
        if (content.size() - offset < kWord) {
            problem = "B protocol ends inside a protocol word";
            return protocol;
        }
        *words[i] = capi::readU16(content, offset);
        offset += kWord;
    }
    std::array<std::span<const uint8_t>, kConfigurations> configurations{};
    readList(content.subspan(offset), configurations, "B protocol", problem);
    return protocol;
}

AdditionalInfo parseAdditionalInfo(std::span<const uint8_t> content, std::string& problem) {
    AdditionalInfo info;
    readList(content, info.elements, "additional info", problem);
    return info;
}

}  // namespace tellmaro::exchange
