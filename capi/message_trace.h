#pragma once
// One-line readable decoding of any CAPI message, for traces and for test
// failure messages.

#include <cstdint>
#include <span>
#include <string>

namespace tellmaro::capi {

// "CONNECT_REQ appl=1 #123 len=83 Controller=0x00000001 CIP=16 ..."
// Never reads beyond `message`; says so when the message is cut short,
// malformed or of an unknown kind.
std::string describeMessage(std::span<const uint8_t> message);

}  // namespace tellmaro::capi
