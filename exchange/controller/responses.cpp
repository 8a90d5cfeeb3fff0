// The responses an application puts: each must answer an indication that is
// still outstanding; some let the connection go on to its next step.
#include "exchange/controller/capi_controller.h"
#include "exchange/controller/controller_codes.h"
#include "exchange/controller/message_builder.h"

namespace tellmaro::exchange {

namespace {

using capi::Command;
using capi::Subcommand;

constexpr uint32_t kPlciMask = 0xFFFF;
constexpr uint16_t kHighestReject = 8;

// Parameter positions.
constexpr size_t kDataHandle = 1;  // DATA_B3_RESP
constexpr size_t kReject = 1;      // CONNECT_RESP, CONNECT_B3_RESP
constexpr size_t kConnectRespBProtocol = 2;
constexpr size_t kConnectRespAdditionalInfo = 6;

}  // namespace

// True when the response answered an outstanding indication; otherwise it is
// recorded as a violation (or a crossing) and ignored, as a controller does.
bool CapiController::takeResponse(Application& app, const ParsedMessage& m) {
    uint8_t command = m.header.command;
    uint32_t address = m.dword(0);
    bool dataResp = command == static_cast<uint8_t>(Command::DataB3);
    std::optional<uint16_t> handle;
    if (dataResp) {
        handle = m.word(kDataHandle);
    }
    if (answerPending(app.id, command, address, handle)) {
        return true;
    }
    auto ignore = [&](ViolationKind kind, const std::string& detail) {
        violation(app.id, kind, 0, detail + "; response ignored", m.bytes);
    };
    bool ncciAddress = (address >> 16) != 0;
    auto b3 = b3s_.find(address);
    auto call = calls_.find(address & kPlciMask);
    if (ncciAddress ? b3 == b3s_.end() : call == calls_.end()) {
        ignore(ViolationKind::UnknownAddress, ncciAddress ? "no such NCCI" : "no such PLCI");
        return false;
    }
    uint32_t owner = ncciAddress ? b3->second.applId : call->second.applId;
    if (owner != app.id) {
        ignore(ViolationKind::ForeignAddress, "address of application " + std::to_string(owner));
        return false;
    }
    if (dataResp) {
        ignore(ViolationKind::UnknownDataHandle,
               "data handle " + std::to_string(*handle) + " is not outstanding");
        return false;
    }
    bool crossed =
        ncciAddress
            ? b3->second.clearedBy == ClearedBy::Network && clearingQueued(app, b3->second)
            : call->second.clearedBy == ClearedBy::Network && clearingQueued(app, call->second);
    if (crossed) {
        ++crossings_;
        note("response crossed the clearing of its connection");
        return false;
    }
    ignore(ViolationKind::UnexpectedResponse, "answers no outstanding indication");
    return false;
}

void CapiController::onConnectResp(Application& app, const ParsedMessage& m) {
    if (!takeResponse(app, m)) {
        return;
    }
    Call& call = calls_.at(m.dword(0));
    uint16_t reject = m.word(kReject);
    if (reject != 0) {
        if (reject > kHighestReject) {
            violation(app.id, ViolationKind::BadCoding, 0,
                      "reject value " + std::to_string(reject) + "; call refused", m.bytes);
        }
        network_.refuse(call.ref(), reject);
        return clearCall(call, code::kNormalClearing, ClearedBy::Application);
    }
    // A controller that cannot take the call as answered clears it, giving
    // the reason in DISCONNECT_IND.
    auto refuseAnswer = [&](ViolationKind kind, uint16_t reason, const std::string& detail) {
        violation(app.id, kind, reason, detail + "; call cleared", m.bytes);
        network_.release(call.ref());
        clearCall(call, reason, ClearedBy::Application);
    };
    BProtocol protocol;
    std::string detail;
    if (auto info = bProtocolRefusal(m.content(kConnectRespBProtocol), protocol, detail)) {
        return refuseAnswer(
            *info == code::kIllegalCoding ? ViolationKind::BadCoding : ViolationKind::Unsupported,
            *info, detail);
    }
    parseAdditionalInfo(m.content(kConnectRespAdditionalInfo), detail);
    if (!detail.empty()) {
        return refuseAnswer(ViolationKind::BadCoding, code::kIllegalCoding, detail);
    }
    if (!channelFree()) {
        return refuseAnswer(ViolationKind::NoChannel, code::kNoChannel,
                            "answered while no B channel is free");
    }
    call.holdsChannel = true;
    if (network_.accept(call.ref())) {
        connect(call);
    } else {
        call.state = Call::State::Answering;
    }
}

void CapiController::onConnectActiveResp(Application& app, const ParsedMessage& m) {
    if (!takeResponse(app, m)) {
        return;
    }
    // On a call it answered, the application is offered the B3 connection.
    Call& call = calls_.at(m.dword(0));
    if (call.kind == Call::Kind::Incoming && call.state == Call::State::Active && !call.ncci) {
        B3Connection& b3 = newB3(call, B3Connection::State::Offered);
        send(app, MessageBuilder(Command::ConnectB3, Subcommand::Ind, static_cast<uint16_t>(app.id),
                                 nextIndicationNumber(app))
                      .dword(b3.ncci)
                      .emptyStructs(1)  // NCPI
                      .take());
    }
}

void CapiController::onConnectB3Resp(Application& app, const ParsedMessage& m) {
    if (!takeResponse(app, m)) {
        return;
    }
    B3Connection& b3 = b3s_.at(m.dword(0));
    if (m.word(kReject) != 0) {
        return clearB3(b3, ClearedBy::Application);
    }
    activateB3(b3);
}

void CapiController::onDisconnectResp(Application& app, const ParsedMessage& m) {
    if (takeResponse(app, m)) {
        removeCall(calls_.at(m.dword(0)));
    }
}

void CapiController::onDisconnectB3Resp(Application& app, const ParsedMessage& m) {
    if (takeResponse(app, m)) {
        removeB3(b3s_.at(m.dword(0)));
    }
}

void CapiController::onDataB3Resp(Application& app, const ParsedMessage& m) {
    if (takeResponse(app, m)) {
        std::erase(b3s_.at(m.dword(0)).outstandingHandles, m.word(kDataHandle));
    }
}

}  // namespace tellmaro::exchange
