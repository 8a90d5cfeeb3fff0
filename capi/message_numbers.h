#pragma once
// Fixed message numbers of the messages the relay sends, and the senders that
// share one template but use different numbers.

#include <cstdint>

namespace tellmaro::capi {

inline constexpr uint16_t kListenReqNumber = 1;
inline constexpr uint16_t kConnectReqNumber = 123;
inline constexpr uint16_t kConnectRespAnswerNumber = 200;
inline constexpr uint16_t kConnectActiveRespNumber = 130;
inline constexpr uint16_t kConnectB3ReqNumber = 131;
inline constexpr uint16_t kConnectB3RespNumber = 199;
inline constexpr uint16_t kConnectB3ActiveRespNumber = 132;
inline constexpr uint16_t kInfoReqNumber = 160;
inline constexpr uint16_t kFacilityReqNumber = 134;
inline constexpr uint16_t kFacilityRespNumber = 135;
inline constexpr uint16_t kDisconnectB3RespNumber = 133;
inline constexpr uint16_t kDataB3ReqNumber = 141;
inline constexpr uint16_t kResetB3ReqNumber = 0;
inline constexpr uint16_t kResetB3RespNumber = 180;

// DISCONNECT_REQ: from sendDisconnectReq, or from the DISCONNECT_B3_IND handler.
enum class DisconnectReqNumber : uint16_t {
    SendDisconnectReq = 129,
    AfterB3Disconnect = 160,
};

// DISCONNECT_B3_REQ: first and second request of sendDisconnectB3Req, or the
// one the DISCONNECT_B3_IND handler sends.
enum class DisconnectB3ReqNumber : uint16_t {
    First = 143,
    Second = 144,
    AfterB3Disconnect = 150,
};

// DATA_B3_RESP: answered at once on receipt, after the relayed copy was
// confirmed, or flushed when the outgoing leg's B3 connection ended.
enum class DataB3RespNumber : uint16_t {
    OnReceipt = 135,
    AfterConfirmation = 142,
    Flush = 195,
};

}  // namespace tellmaro::capi
