// The requests an application puts, each answered with its confirmation.
#include <algorithm>
#include <cstdio>

#include "capi/byte_order.h"
#include "exchange/controller/capi_controller.h"
#include "exchange/controller/controller_codes.h"
#include "exchange/controller/message_builder.h"

namespace tellmaro::exchange {

namespace {

using capi::Command;
using capi::Subcommand;

constexpr uint32_t kController = 1;
constexpr uint16_t kHighestCip = 28;
constexpr uint16_t kDtmfSelector = 1;
constexpr uint16_t kDtmfStartListen = 1;
constexpr uint16_t kDtmfStopListen = 2;

// Parameter positions.
namespace listenReq {
constexpr size_t kController = 0, kCipMask = 2;
}
namespace connectReq {
constexpr size_t kController = 0, kCip = 1, kCalled = 2, kBProtocol = 6, kAdditionalInfo = 10;
}
namespace infoReq {
constexpr size_t kAdditionalInfo = 2;
}
namespace facilityReq {
constexpr size_t kSelector = 1, kParameter = 2;
}
namespace dataReq {
constexpr size_t kLength = 2;
}
constexpr size_t kPlciAdditionalInfo = 1;  // ALERT_REQ, DISCONNECT_REQ

}  // namespace

void CapiController::onListenReq(Application& app, const ParsedMessage& m) {
    uint32_t controller = m.dword(listenReq::kController);
    if (controller != kController) {
        return refuse(app, m, ViolationKind::UnknownAddress, code::kIllegalAddress,
                      "no controller " + hex(controller));
    }
    app.cipMask = m.dword(listenReq::kCipMask);
    confirm(app, m, 0);
}

// ALERT_REQ and DISCONNECT_REQ: a PLCI and additional info. The call, or
// nothing after the request has been refused.
Call* CapiController::liveCallOf(Application& app, const ParsedMessage& m) {
    Call* call = requestedCall(app, m);
    if (!call) {
        return nullptr;
    }
    std::string problem;
    parseAdditionalInfo(m.content(kPlciAdditionalInfo), problem);
    if (!problem.empty()) {
        refuse(app, m, ViolationKind::BadCoding, code::kIllegalCoding, problem);
        return nullptr;
    }
    return refusedAsCleared(app, m, *call) ? nullptr : call;
}

// The B3 connection a request names, or nothing after the request has
// been refused (unknown, foreign or already cleared).
B3Connection* CapiController::liveB3Of(Application& app, const ParsedMessage& m) {
    B3Connection* b3 = requestedB3(app, m);
    return b3 && !refusedAsCleared(app, m, *b3) ? b3 : nullptr;
}

void CapiController::onAlertReq(Application& app, const ParsedMessage& m) {
    Call* call = liveCallOf(app, m);
    if (!call) {
        return;
    }
    if (call->state != Call::State::Offered) {
        return refuse(app, m, ViolationKind::WrongState, code::kWrongState,
                      "ALERT_REQ for a call that is not offered");
    }
    if (call->alerted) {
        return confirm(app, m, code::kAlertAlreadySent);
    }
    call->alerted = true;
    network_.alert(call->ref());
    confirm(app, m, 0);
}

void CapiController::onConnectReq(Application& app, const ParsedMessage& m) {
    uint32_t controller = m.dword(connectReq::kController);
    if (controller != kController) {
        return refuse(app, m, ViolationKind::UnknownAddress, code::kIllegalAddress,
                      "no controller " + hex(controller));
    }
    if (m.word(connectReq::kCip) > kHighestCip) {
        return refuse(app, m, ViolationKind::Unsupported, code::kCipUnknown,
                      "CIP value " + std::to_string(m.word(connectReq::kCip)));
    }
    BProtocol protocol;
    std::string detail;
    if (auto info = bProtocolRefusal(m.content(connectReq::kBProtocol), protocol, detail)) {
        auto kind =
            *info == code::kIllegalCoding ? ViolationKind::BadCoding : ViolationKind::Unsupported;
        return refuse(app, m, kind, *info, detail);
    }
    parseAdditionalInfo(m.content(connectReq::kAdditionalInfo), detail);
    if (!detail.empty()) {
        return refuse(app, m, ViolationKind::BadCoding, code::kIllegalCoding, detail);
    }
    auto plci = channelFree() ? allocatePlci() : std::nullopt;
    if (!plci) {
        return refuse(app, m, ViolationKind::NoChannel, code::kNoPlci, "no B channel free");
    }
    // The called party number: type of number and plan, then the digits.
    auto called = m.content(connectReq::kCalled);
    std::string digits = called.size() > 1 ? std::string(called.begin() + 1, called.end()) : "";
    bool seizure = digits.empty();
    Call& call = newCall(*plci, app.id, seizure ? Call::Kind::Seizure : Call::Kind::Outgoing,
                         seizure ? Call::State::Seized : Call::State::Dialling);
    call.holdsChannel = true;
    send(app, MessageBuilder(Command::Connect, Subcommand::Conf, static_cast<uint16_t>(app.id),
                             m.header.messageNumber)
                  .dword(call.plci)
                  .word(0)
                  .take());
    if (seizure) {
        network_.seize(call.ref());
        note("line seized on PLCI " + hex(call.plci));
    } else {
        network_.dial(call.ref(), digits);
    }
}

void CapiController::onConnectB3Req(Application& app, const ParsedMessage& m) {
    Call* call = requestedCall(app, m);
    if (!call) {
        return;
    }
    if (refusedAsCleared(app, m, *call)) {
        return;
    }
    if (call->state != Call::State::Active) {
        return refuse(app, m, ViolationKind::WrongState, code::kWrongState,
                      "CONNECT_B3_REQ for a call that is not connected");
    }
    if (call->ncci) {
        return refuse(app, m, ViolationKind::WrongState, code::kNoNcci,
                      "the call already has B3 connection " + hex(*call->ncci));
    }
    B3Connection& b3 = newB3(*call, B3Connection::State::Offered);
    send(app, MessageBuilder(Command::ConnectB3, Subcommand::Conf, static_cast<uint16_t>(app.id),
                             m.header.messageNumber)
                  .dword(b3.ncci)
                  .word(0)
                  .take());
    activateB3(b3);
}

void CapiController::onInfoReq(Application& app, const ParsedMessage& m) {
    Call* call = requestedCall(app, m);
    if (!call) {
        return;
    }
    std::string problem;
    AdditionalInfo additional = parseAdditionalInfo(m.content(infoReq::kAdditionalInfo), problem);
    if (!problem.empty()) {
        return refuse(app, m, ViolationKind::BadCoding, code::kIllegalCoding, problem);
    }
    if (refusedAsCleared(app, m, *call)) {
        return;
    }
    // Keypad information on a seized line is the network's to weigh.
    if (call->state == Call::State::Seized && !additional.keypad().empty()) {
        auto keypad = additional.keypad();
        network_.keypad(call->ref(), std::string(keypad.begin(), keypad.end()));
    }
    confirm(app, m, 0);
}

void CapiController::onFacilityReq(Application& app, const ParsedMessage& m) {
    uint16_t selector = m.word(facilityReq::kSelector);
    if (selector != kDtmfSelector) {
        return refuse(app, m, ViolationKind::Unsupported, code::kFacilityNotSupported,
                      "facility selector " + std::to_string(selector));
    }
    B3Connection* b3 = liveB3Of(app, m);
    if (!b3) {
        return;
    }
    if (b3->state != B3Connection::State::Active) {
        return refuse(app, m, ViolationKind::WrongState, code::kWrongState,
                      "DTMF on a B3 connection that is not active");
    }
    auto parameter = m.content(facilityReq::kParameter);
    if (parameter.size() < 2) {
        return refuse(app, m, ViolationKind::BadCoding, code::kIllegalCoding,
                      "DTMF request without a function");
    }
    uint16_t function = capi::readU16(parameter, 0);
    uint16_t dtmfInfo = code::kDtmfInitiated;
    if (function == kDtmfStartListen || function == kDtmfStopListen) {
        b3->dtmfListening = function == kDtmfStartListen;
        network_.listenForKeys(b3->ref(), b3->dtmfListening);
    } else {
        dtmfInfo = code::kDtmfUnknownRequest;
        violation(app.id, ViolationKind::Unsupported, 0,
                  "DTMF function " + std::to_string(function), m.bytes);
    }
    const uint8_t confirmation[] = {static_cast<uint8_t>(dtmfInfo),
                                    static_cast<uint8_t>(dtmfInfo >> 8)};
    send(app, MessageBuilder(Command::Facility, Subcommand::Conf, static_cast<uint16_t>(app.id),
                             m.header.messageNumber)
                  .dword(b3->ncci)
                  .word(0)
                  .word(kDtmfSelector)
                  .structure(confirmation)
                  .take());
}

void CapiController::onDisconnectReq(Application& app, const ParsedMessage& m) {
    Call* call = liveCallOf(app, m);
    if (!call) {
        return;
    }
    confirm(app, m, 0);
    network_.release(call->ref());
    clearCall(*call, code::kNormalClearing, ClearedBy::Application);
}

void CapiController::onDisconnectB3Req(Application& app, const ParsedMessage& m) {
    B3Connection* b3 = liveB3Of(app, m);
    if (!b3) {
        return;
    }
    confirm(app, m, 0);
    clearB3(*b3, ClearedBy::Application);
}

void CapiController::onResetB3Req(Application& app, const ParsedMessage& m) {
    B3Connection* b3 = liveB3Of(app, m);
    if (!b3) {
        return;
    }
    if (b3->state != B3Connection::State::Active) {
        return refuse(app, m, ViolationKind::WrongState, code::kWrongState,
                      "reset of a B3 connection that is not active");
    }
    confirm(app, m, 0);
    send(app, MessageBuilder(Command::ResetB3, Subcommand::Ind, static_cast<uint16_t>(app.id),
                             nextIndicationNumber(app))
                  .dword(b3->ncci)
                  .take());
    network_.mediaReset(b3->ref());
}

void CapiController::onDataB3Req(Application& app, const ParsedMessage& m,
                                 std::span<const uint8_t> block) {
    B3Connection* b3 = liveB3Of(app, m);
    if (!b3) {
        return;
    }
    if (b3->state != B3Connection::State::Active) {
        return refuse(app, m, ViolationKind::WrongState, code::kWrongState,
                      "data on a B3 connection that is not active");
    }
    uint16_t length = m.word(dataReq::kLength);
    if (length > std::min<uint32_t>(app.params.maxB3BlockSize, kAudioBlockSize)) {
        return refuse(app, m, ViolationKind::Unsupported, code::kDataLengthNotSupported,
                      "Data length " + std::to_string(length));
    }
    if (block.size() < length) {
        return refuse(app, m, ViolationKind::BadCoding, code::kIllegalCoding,
                      "Data length " + std::to_string(length) + " but " +
                          std::to_string(block.size()) + " bytes of data");
    }
    if (refuseNextDataB3_) {
        uint16_t info = *refuseNextDataB3_;
        refuseNextDataB3_.reset();
        ++refusedDataB3Reqs_;
        note("DATA_B3_REQ refused by a scripted fault");
        return confirm(app, m, info);
    }
    network_.audioToFarEnd(b3->ref(), block.first(length));
    confirm(app, m, 0);
}

}  // namespace tellmaro::exchange
