// A client's byte stream into the remote-CAPI frame reader in pieces, every body into the parser.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "exchange/rcapi/rcapi_frame.h"

using namespace tellmaro::exchange;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    rcapi::FrameReader reader;
    size_t at = 0;
    while (at < size) {
        // A size byte (1 to 64), then the piece.
        const size_t piece = std::min<size_t>(size - at - 1, (data[at] & 0x3F) + 1);
        ++at;
        reader.append(std::span(data + at, piece));
        at += piece;
        while (auto body = reader.next()) {
            if (body->size() + rcapi::kLengthBytes > rcapi::kMaxFrame) {
                std::abort();
            }
            const rcapi::ParsedRequest parsed = rcapi::parseRequest(*body);
            if (parsed.request.has_value() == !parsed.error.empty()) {
                std::abort();
            }
        }
        if (reader.failed()) {
            break;
        }
    }
    return 0;
}
