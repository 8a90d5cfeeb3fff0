#pragma once
// The CAPI 2.0 result, info and reason values the controller answers with.

#include <cstdint>

namespace tellmaro::exchange::code {

// Registration.
inline constexpr uint32_t kTooManyApplications = 0x1001;
inline constexpr uint32_t kBlockSizeTooSmall = 0x1002;
inline constexpr uint32_t kMessageBufferTooSmall = 0x1004;
inline constexpr uint32_t kLogicalConnectionsNotSupported = 0x1005;
inline constexpr uint32_t kNotInstalled = 0x1009;

// Message exchange.
inline constexpr uint32_t kIllegalApplication = 0x1101;
inline constexpr uint32_t kIllegalCommand = 0x1102;
inline constexpr uint32_t kQueueEmpty = 0x1104;
inline constexpr uint32_t kOsResourceError = 0x1108;
inline constexpr uint32_t kIllegalController = 0x2002;

// Info values of confirmations.
inline constexpr uint16_t kAlertAlreadySent = 0x0003;
inline constexpr uint16_t kWrongState = 0x2001;
inline constexpr uint16_t kIllegalAddress = 0x2002;
inline constexpr uint16_t kNoPlci = 0x2003;
inline constexpr uint16_t kNoNcci = 0x2004;
inline constexpr uint16_t kIllegalCoding = 0x2007;
inline constexpr uint16_t kB1NotSupported = 0x3001;
inline constexpr uint16_t kB2NotSupported = 0x3002;
inline constexpr uint16_t kB3NotSupported = 0x3003;
inline constexpr uint16_t kCipUnknown = 0x3009;
inline constexpr uint16_t kFacilityNotSupported = 0x300B;
inline constexpr uint16_t kDataLengthNotSupported = 0x300C;

// DTMF info word inside FACILITY_CONF.
inline constexpr uint16_t kDtmfInitiated = 0;
inline constexpr uint16_t kDtmfUnknownRequest = 2;

// DISCONNECT_IND reasons: 0x34 and the Q.850 cause with its extension bit.
inline constexpr uint16_t kUnallocatedNumber = 0x3481;  // cause 1
inline constexpr uint16_t kNormalClearing = 0x3490;     // cause 16
inline constexpr uint16_t kUserBusy = 0x3491;           // cause 17
inline constexpr uint16_t kNoAnswer = 0x3493;           // cause 19
inline constexpr uint16_t kCallRejected = 0x3495;       // cause 21
inline constexpr uint16_t kNoChannel = 0x34A2;          // cause 34
// A seized line without digits that the network stops waiting for: cause 102,
// "recovery on timer expiry", as an exchange reports an overlap-dialling timeout.
inline constexpr uint16_t kTimerExpiry = 0x34E6;

}  // namespace tellmaro::exchange::code
