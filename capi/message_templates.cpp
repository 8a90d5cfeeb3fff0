#include "capi/message_templates.h"

#include <algorithm>
#include <cstdint>

#include "capi/byte_order.h"
#include "capi/template_builder.h"

namespace tellmaro::capi {

namespace {

using C = Command;
using S = Subcommand;

// Number structures used by several templates.
constexpr uint8_t kCalledNumberLength = 0x15;   // type/plan octet + 20 digits
constexpr uint8_t kCallingNumberLength = 0x16;  // type/plan + presentation + 20 digits
constexpr uint8_t kNumberTypeUnknown = 0x80;
constexpr uint8_t kCallingTypeIsdn = 0x01;
constexpr uint8_t kPresentationAllowedNetworkProvided = 0x83;
constexpr char kNumberFill = '0';

// B protocol as the relay sends it: length 4, B1 1 (64 kbit/s bit-transparent)
// and B2 1 (transparent) only. B3 is left to the default, transparent.
constexpr std::initializer_list<uint8_t> kBProtocolTransparent = {0x04, 0x01, 0x00, 0x01, 0x00};

// LISTEN_REQ
constexpr size_t kListenCipMask = 16;
constexpr auto kListenReq = TemplateImage<26>(C::Listen, S::Req, kListenReqNumber)
                                .u32(8, 1)   // Controller 1
                                .u32(12, 0)  // Info mask
                                .u32(kListenCipMask, static_cast<uint32_t>(ListenMask::Calls))
                                .u32(20, 0)  // CIP mask 2
                                .u8(24, 0)   // Calling party number: empty
                                .u8(25, 0);  // Calling party subaddress: empty

// ALERT_REQ: message number and PLCI of the CONNECT_IND.
constexpr auto kAlertReq = TemplateImage<17>(C::Alert, S::Req, 0)
                               .u32(8, 0)      // PLCI
                               .zeros(12, 5);  // Additional info: empty, then filler

// CONNECT_REQ seizing the line: no called digits.
constexpr size_t kSeizureOwnNumber = 19;
constexpr auto kConnectReqSeizure =
    TemplateImage<63>(C::Connect, S::Req, kConnectReqNumber)
        .u32(8, 1)                            // Controller 1
        .u16(12, 16)                          // CIP value: telephony
        .raw(14, {0x01, kNumberTypeUnknown})  // Called party number: type only
        .raw(16, {kCallingNumberLength, kCallingTypeIsdn, kPresentationAllowedNetworkProvided})
        .chars(kSeizureOwnNumber, kNumberFieldLength, ' ')
        .u8(39, 0)  // Called party subaddress
        .u8(40, 0)  // Calling party subaddress
        .raw(41, kBProtocolTransparent)
        .zeros(46, 2)
        .u8(48, 0)
        .zeros(49, 5)
        .zeros(54, 2)
        .zeros(56, 3)
        .zeros(59, 4);

// CONNECT_REQ to a number: the call back and the dialled call.
constexpr size_t kToNumberCalledDigits = 16;
constexpr size_t kToNumberOwnNumber = 39;
constexpr auto kConnectReqToNumber =
    TemplateImage<83>(C::Connect, S::Req, kConnectReqNumber)
        .u32(8, 1)    // Controller 1
        .u16(12, 16)  // CIP value: telephony
        .raw(14, {kCalledNumberLength, kNumberTypeUnknown})
        .chars(kToNumberCalledDigits, kNumberFieldLength, kNumberFill)
        .raw(36, {kCallingNumberLength, kCallingTypeIsdn, kPresentationAllowedNetworkProvided})
        .chars(kToNumberOwnNumber, kNumberFieldLength, ' ')
        .u8(59, 0)  // Called party subaddress
        .u8(60, 0)  // Calling party subaddress
        .raw(61, kBProtocolTransparent)
        .zeros(66, 2)
        .u8(68, 0)
        .zeros(69, 5)
        .zeros(74, 2)
        .zeros(76, 3)
        .zeros(79, 4);

// CONNECT_RESP refusing a call: normal call clearing.
constexpr auto kConnectRespRefuse = TemplateImage<64>(C::Connect, S::Resp, 0)
                                        .u32(8, 0)   // PLCI
                                        .u16(12, 2)  // Reject: normal call clearing
                                        .zeros(14, 16)
                                        .raw(30, {kCalledNumberLength, kNumberTypeUnknown})
                                        .zeros(32, 32);

// CONNECT_RESP answering the mobile's call.
constexpr size_t kAnswerOwnNumber = 26;
constexpr auto kConnectRespAnswer =
    TemplateImage<59>(C::Connect, S::Resp, kConnectRespAnswerNumber)
        .u32(8, 0)   // PLCI
        .u16(12, 0)  // Reject: accept
        .raw(14, {0x01, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00})
        .raw(24, {0x17, kNumberTypeUnknown})
        .chars(kAnswerOwnNumber, kNumberFieldLength, ' ')
        .u8(46, ' ')
        .zeros(47, 12);

constexpr auto kConnectActiveResp =
    TemplateImage<12>(C::ConnectActive, S::Resp, kConnectActiveRespNumber).u32(8, 0);

constexpr auto kConnectB3Req = TemplateImage<13>(C::ConnectB3, S::Req, kConnectB3ReqNumber)
                                   .u32(8, 0)   // PLCI
                                   .u8(12, 0);  // NCPI: empty

// CONNECT_B3_RESP: accepts, echoing only the NCPI length byte of the indication.
constexpr size_t kB3RespNcpiLength = 14;
constexpr auto kConnectB3Resp = TemplateImage<15>(C::ConnectB3, S::Resp, kConnectB3RespNumber)
                                    .u32(8, 0)   // NCCI
                                    .u16(12, 0)  // Reject: accept
                                    .u8(kB3RespNcpiLength, 0);

constexpr auto kConnectB3ActiveResp =
    TemplateImage<12>(C::ConnectB3Active, S::Resp, kConnectB3ActiveRespNumber).u32(8, 0);

// INFO_REQ with the keypad facility "0": keeps a seized line open.
constexpr auto kInfoReqKeypad = TemplateImage<17>(C::Info, S::Req, kInfoReqNumber)
                                    .u32(8, 0)              // PLCI
                                    .u8(12, 0)              // Called party number: empty
                                    .u8(13, 3)              // Additional info: length 3
                                    .u8(14, 0)              // B channel information: empty
                                    .raw(15, {0x01, '0'});  // Keypad facility "0"

// FACILITY_REQ switching DTMF detection on.
constexpr auto kFacilityReq = TemplateImage<23>(C::Facility, S::Req, kFacilityReqNumber)
                                  .u32(8, 0)    // NCCI
                                  .u16(12, 1)   // Facility selector: DTMF
                                  .u8(14, 9)    // Facility request parameter length
                                  .u16(15, 1)   // Function: start DTMF listen
                                  .u16(17, 40)  // Tone duration, ms
                                  .u16(19, 40)  // Gap duration, ms
                                  .zeros(21, 2);

constexpr auto kFacilityResp = TemplateImage<17>(C::Facility, S::Resp, kFacilityRespNumber)
                                   .u32(8, 0)      // PLCI or NCCI
                                   .u16(12, 1)     // Facility selector: DTMF
                                   .zeros(14, 3);  // Empty response parameter, filler

constexpr auto kDisconnectReq = TemplateImage<13>(C::Disconnect, S::Req, 0)
                                    .u32(8, 0)   // PLCI
                                    .u8(12, 0);  // Additional info: empty

constexpr auto kDisconnectResp = TemplateImage<12>(C::Disconnect, S::Resp, 0).u32(8, 0);

constexpr auto kDisconnectB3Req = TemplateImage<13>(C::DisconnectB3, S::Req, 0)
                                      .u32(8, 0)   // NCCI
                                      .u8(12, 0);  // NCPI: empty

constexpr auto kDisconnectB3Resp =
    TemplateImage<12>(C::DisconnectB3, S::Resp, kDisconnectB3RespNumber).u32(8, 0);

// DATA_B3_REQ; on 64-bit hosts the pointer goes into Data64 and Data stays 0.
constexpr size_t kDataPointer32 = 12;
constexpr size_t kDataLength = 16;
constexpr size_t kDataHandle = 18;
constexpr size_t kDataFlags = 20;
constexpr size_t kDataPointer64 = 22;
constexpr auto kDataB3Req = TemplateImage<kDataB3MessageLength>(C::DataB3, S::Req, kDataB3ReqNumber)
                                .u32(8, 0)  // NCCI
                                .u32(kDataPointer32, 0)
                                .u16(kDataLength, 0)
                                .u16(kDataHandle, 0)
                                .u16(kDataFlags, 0);

constexpr auto kDataB3Resp = TemplateImage<14>(C::DataB3, S::Resp, 0)
                                 .u32(8, 0)    // NCCI
                                 .u16(12, 0);  // Data handle

constexpr auto kResetB3Req = TemplateImage<13>(C::ResetB3, S::Req, kResetB3ReqNumber)
                                 .u32(8, 0)   // NCCI
                                 .u8(12, 0);  // NCPI: empty

constexpr auto kResetB3Resp = TemplateImage<12>(C::ResetB3, S::Resp, kResetB3RespNumber).u32(8, 0);

// Every template but DATA_B3_REQ carries its PLCI or NCCI at offset 8.
constexpr size_t kAddress = 8;

template <size_t N>
void writeNumberField(std::array<uint8_t, N>& message, size_t offset, std::string_view digits) {
    size_t count = std::min(digits.size(), kNumberFieldLength);
    std::copy_n(digits.begin(), count, message.begin() + offset);
    std::fill_n(message.begin() + offset + count, kNumberFieldLength - count,
                static_cast<uint8_t>(kNumberFill));
}

}  // namespace

MessageTemplates::MessageTemplates()
    : listenReq_(kListenReq.bytes),
      alertReq_(kAlertReq.bytes),
      connectReqSeizure_(kConnectReqSeizure.bytes),
      connectReqToNumber_(kConnectReqToNumber.bytes),
      connectRespRefuse_(kConnectRespRefuse.bytes),
      connectRespAnswer_(kConnectRespAnswer.bytes),
      connectActiveResp_(kConnectActiveResp.bytes),
      connectB3Req_(kConnectB3Req.bytes),
      connectB3Resp_(kConnectB3Resp.bytes),
      connectB3ActiveResp_(kConnectB3ActiveResp.bytes),
      infoReqKeypad_(kInfoReqKeypad.bytes),
      facilityReq_(kFacilityReq.bytes),
      facilityResp_(kFacilityResp.bytes),
      disconnectReq_(kDisconnectReq.bytes),
      disconnectResp_(kDisconnectResp.bytes),
      disconnectB3Req_(kDisconnectB3Req.bytes),
      disconnectB3Resp_(kDisconnectB3Resp.bytes),
      dataB3Req_(kDataB3Req.bytes),
      dataB3Resp_(kDataB3Resp.bytes),
      resetB3Req_(kResetB3Req.bytes),
      resetB3Resp_(kResetB3Resp.bytes) {}

template <size_t N>
MessageTemplates::Bytes MessageTemplates::stamp(std::array<uint8_t, N>& message) const {
    writeU16(message, kApplIdOffset, applId_);
    return message;
}

MessageTemplates::Bytes MessageTemplates::listenReq(ListenMask mask) {
    writeU32(listenReq_, kListenCipMask, static_cast<uint32_t>(mask));
    return stamp(listenReq_);
}

MessageTemplates::Bytes MessageTemplates::alertReq(uint16_t indicationNumber, uint32_t plci) {
    writeU16(alertReq_, kMessageNumberOffset, indicationNumber);
    writeU32(alertReq_, kAddress, plci);
    return stamp(alertReq_);
}

MessageTemplates::Bytes MessageTemplates::connectReqSeizure(std::string_view ownNumber) {
    writeNumberField(connectReqSeizure_, kSeizureOwnNumber, ownNumber);
    return stamp(connectReqSeizure_);
}

MessageTemplates::Bytes MessageTemplates::connectReqToNumber(std::string_view calledNumber,
                                                             std::string_view ownNumber) {
    writeNumberField(connectReqToNumber_, kToNumberCalledDigits, calledNumber);
    writeNumberField(connectReqToNumber_, kToNumberOwnNumber, ownNumber);
    return stamp(connectReqToNumber_);
}

MessageTemplates::Bytes MessageTemplates::connectRespRefuse(uint16_t indicationNumber,
                                                            uint32_t plci) {
    writeU16(connectRespRefuse_, kMessageNumberOffset, indicationNumber);
    writeU32(connectRespRefuse_, kAddress, plci);
    return stamp(connectRespRefuse_);
}

MessageTemplates::Bytes MessageTemplates::connectRespAnswer(uint32_t plci,
                                                            std::string_view ownNumber) {
    writeU32(connectRespAnswer_, kAddress, plci);
    writeNumberField(connectRespAnswer_, kAnswerOwnNumber, ownNumber);
    return stamp(connectRespAnswer_);
}

MessageTemplates::Bytes MessageTemplates::connectActiveResp(uint32_t plci) {
    writeU32(connectActiveResp_, kAddress, plci);
    return stamp(connectActiveResp_);
}

MessageTemplates::Bytes MessageTemplates::connectB3Req(uint32_t plci) {
    writeU32(connectB3Req_, kAddress, plci);
    return stamp(connectB3Req_);
}

MessageTemplates::Bytes MessageTemplates::connectB3Resp(uint32_t ncci, uint8_t ncpiLength) {
    writeU32(connectB3Resp_, kAddress, ncci);
    connectB3Resp_[kB3RespNcpiLength] = ncpiLength;
    return stamp(connectB3Resp_);
}

MessageTemplates::Bytes MessageTemplates::connectB3ActiveResp(uint32_t ncci) {
    writeU32(connectB3ActiveResp_, kAddress, ncci);
    return stamp(connectB3ActiveResp_);
}

MessageTemplates::Bytes MessageTemplates::infoReqKeypad(uint32_t plci) {
    writeU32(infoReqKeypad_, kAddress, plci);
    return stamp(infoReqKeypad_);
}

MessageTemplates::Bytes MessageTemplates::facilityReqDtmfListen(uint32_t ncci) {
    writeU32(facilityReq_, kAddress, ncci);
    return stamp(facilityReq_);
}

MessageTemplates::Bytes MessageTemplates::facilityResp(uint32_t address) {
    writeU32(facilityResp_, kAddress, address);
    return stamp(facilityResp_);
}

MessageTemplates::Bytes MessageTemplates::disconnectReq(DisconnectReqNumber number, uint32_t plci) {
    writeU16(disconnectReq_, kMessageNumberOffset, static_cast<uint16_t>(number));
    writeU32(disconnectReq_, kAddress, plci);
    return stamp(disconnectReq_);
}

MessageTemplates::Bytes MessageTemplates::disconnectResp(uint16_t indicationNumber, uint32_t plci) {
    writeU16(disconnectResp_, kMessageNumberOffset, indicationNumber);
    writeU32(disconnectResp_, kAddress, plci);
    return stamp(disconnectResp_);
}

MessageTemplates::Bytes MessageTemplates::disconnectB3Req(DisconnectB3ReqNumber number,
                                                          uint32_t ncci) {
    writeU16(disconnectB3Req_, kMessageNumberOffset, static_cast<uint16_t>(number));
    writeU32(disconnectB3Req_, kAddress, ncci);
    return stamp(disconnectB3Req_);
}

MessageTemplates::Bytes MessageTemplates::disconnectB3Resp(uint32_t ncci) {
    writeU32(disconnectB3Resp_, kAddress, ncci);
    return stamp(disconnectB3Resp_);
}

MessageTemplates::Bytes MessageTemplates::dataB3Req(uint32_t ncci, const uint8_t* data,
                                                    uint16_t length, uint16_t handle,
                                                    uint16_t flags) {
    auto pointer = reinterpret_cast<uintptr_t>(data);
    writeU32(dataB3Req_, kAddress, ncci);
    if constexpr (kDataB3Uses64BitPointer) {
        writeU64(dataB3Req_, kDataPointer64, pointer);
    } else {
        writeU32(dataB3Req_, kDataPointer32, static_cast<uint32_t>(pointer));
    }
    writeU16(dataB3Req_, kDataLength, length);
    writeU16(dataB3Req_, kDataHandle, handle);
    writeU16(dataB3Req_, kDataFlags, flags);
    return stamp(dataB3Req_);
}

MessageTemplates::Bytes MessageTemplates::dataB3Resp(DataB3RespNumber number, uint32_t ncci,
                                                     uint16_t handle) {
    writeU16(dataB3Resp_, kMessageNumberOffset, static_cast<uint16_t>(number));
    writeU32(dataB3Resp_, kAddress, ncci);
    writeU16(dataB3Resp_, 12, handle);
    return stamp(dataB3Resp_);
}

MessageTemplates::Bytes MessageTemplates::resetB3Req(uint32_t ncci) {
    writeU32(resetB3Req_, kAddress, ncci);
    return stamp(resetB3Req_);
}

MessageTemplates::Bytes MessageTemplates::resetB3Resp(uint32_t ncci) {
    writeU32(resetB3Resp_, kAddress, ncci);
    return stamp(resetB3Resp_);
}

}  // namespace tellmaro::capi
