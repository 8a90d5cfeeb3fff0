#pragma once
// SIP status codes and Q.850 causes, both ways, after RFC 3398. The CAPI
// reason of a clearing is 0x3400 | cause.

#include <cstdint>
#include <string>
#include <string_view>

namespace tellmaro::sip {

namespace cause {
inline constexpr uint8_t kUnallocatedNumber = 1;
inline constexpr uint8_t kNormalClearing = 16;
inline constexpr uint8_t kUserBusy = 17;
inline constexpr uint8_t kNoUserResponding = 18;
inline constexpr uint8_t kNoAnswer = 19;
inline constexpr uint8_t kCallRejected = 21;
inline constexpr uint8_t kInvalidNumberFormat = 28;
inline constexpr uint8_t kNormalUnspecified = 31;
inline constexpr uint8_t kNoCircuitAvailable = 34;
inline constexpr uint8_t kNetworkOutOfOrder = 38;
inline constexpr uint8_t kTemporaryFailure = 41;
inline constexpr uint8_t kOutgoingCallsBarred = 52;
inline constexpr uint8_t kInterworking = 127;
}  // namespace cause

// The cause of a failed outgoing call's final response (>= 300).
uint8_t causeForSipStatus(uint16_t status);

// The same, preferring the cause the far end states (RFC 3326): the first
// Q.850 reason with a cause from 1 to 127 among `reasons`, every Reason
// header value as one comma-separated list. A gateway knows why an ISDN
// call failed better than its status code says (480 with cause 17: busy).
uint8_t causeForSipResponse(uint16_t status, std::string_view reasons);

// The final response that refuses an incoming call for `cause` (e.g. 17 -> 486).
uint16_t sipStatusForCause(uint8_t cause);

// The standard reason phrase of a status ("Busy Here"); empty when unknown.
std::string reasonPhrase(uint16_t status);

inline uint16_t capiReason(uint8_t q850) {
    return static_cast<uint16_t>(0x3480 | q850);
}

}  // namespace tellmaro::sip
