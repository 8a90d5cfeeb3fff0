#pragma once
// The messages the relay sends. Each has one persistent template holding its
// exact bytes; a fill function writes only what changes from one use to the
// next and returns the template's bytes, valid until the same template is
// filled again.

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "capi/message_numbers.h"

namespace tellmaro::capi {

// CIP masks of LISTEN_REQ: speech, 3.1 kHz audio, 7 kHz audio, telephony and
// 7 kHz telephony (CIP values 1, 4, 5, 16, 26), or nothing.
enum class ListenMask : uint32_t {
    Calls = 0x04010032,
    None = 0,
};

// Number fields travel as exactly 20 characters; shorter input is filled with
// "0" and longer input cut, as the relay's fixed-width number fields are.
inline constexpr size_t kNumberFieldLength = 20;

// 64-bit hosts carry the data pointer in the Data64 field (CAPI 2.0's 64-bit
// extension); 32-bit hosts in the 32-bit Data field.
inline constexpr bool kDataB3Uses64BitPointer = sizeof(void*) == 8;
inline constexpr size_t kDataB3MessageLength = kDataB3Uses64BitPointer ? 30 : 22;

class MessageTemplates {
  public:
    MessageTemplates();

    // Stamped into every message filled from now on.
    void setApplId(uint16_t applId) { applId_ = applId; }
    uint16_t applId() const { return applId_; }

    using Bytes = std::span<const uint8_t>;

    Bytes listenReq(ListenMask mask);
    Bytes alertReq(uint16_t indicationNumber, uint32_t plci);
    Bytes connectReqSeizure(std::string_view ownNumber);
    Bytes connectReqToNumber(std::string_view calledNumber, std::string_view ownNumber);
    Bytes connectRespRefuse(uint16_t indicationNumber, uint32_t plci);
    Bytes connectRespAnswer(uint32_t plci, std::string_view ownNumber);
    Bytes connectActiveResp(uint32_t plci);
    Bytes connectB3Req(uint32_t plci);
    Bytes connectB3Resp(uint32_t ncci, uint8_t ncpiLength);
    Bytes connectB3ActiveResp(uint32_t ncci);
    Bytes infoReqKeypad(uint32_t plci);
    Bytes facilityReqDtmfListen(uint32_t ncci);
    Bytes facilityResp(uint32_t address);
    Bytes disconnectReq(DisconnectReqNumber number, uint32_t plci);
    Bytes disconnectResp(uint16_t indicationNumber, uint32_t plci);
    Bytes disconnectB3Req(DisconnectB3ReqNumber number, uint32_t ncci);
    Bytes disconnectB3Resp(uint32_t ncci);
    Bytes dataB3Req(uint32_t ncci, const uint8_t* data, uint16_t length, uint16_t handle,
                    uint16_t flags);
    Bytes dataB3Resp(DataB3RespNumber number, uint32_t ncci, uint16_t handle);
    Bytes resetB3Req(uint32_t ncci);
    Bytes resetB3Resp(uint32_t ncci);

  private:
    template <size_t N>
    Bytes stamp(std::array<uint8_t, N>& message) const;

    uint16_t applId_ = 0;
    std::array<uint8_t, 26> listenReq_;
    std::array<uint8_t, 17> alertReq_;
    std::array<uint8_t, 63> connectReqSeizure_;
    std::array<uint8_t, 83> connectReqToNumber_;
    std::array<uint8_t, 64> connectRespRefuse_;
    std::array<uint8_t, 59> connectRespAnswer_;
    std::array<uint8_t, 12> connectActiveResp_;
    std::array<uint8_t, 13> connectB3Req_;
    std::array<uint8_t, 15> connectB3Resp_;
    std::array<uint8_t, 12> connectB3ActiveResp_;
    std::array<uint8_t, 17> infoReqKeypad_;
    std::array<uint8_t, 23> facilityReq_;
    std::array<uint8_t, 17> facilityResp_;
    std::array<uint8_t, 13> disconnectReq_;
    std::array<uint8_t, 12> disconnectResp_;
    std::array<uint8_t, 13> disconnectB3Req_;
    std::array<uint8_t, 12> disconnectB3Resp_;
    std::array<uint8_t, kDataB3MessageLength> dataB3Req_;
    std::array<uint8_t, 14> dataB3Resp_;
    std::array<uint8_t, 13> resetB3Req_;
    std::array<uint8_t, 12> resetB3Resp_;
};

}  // namespace tellmaro::capi
