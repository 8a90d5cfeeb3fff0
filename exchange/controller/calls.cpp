// How calls are offered, connected and cleared, as the network reports them
// and as the applications ask.
#include "capi/message_header.h"
#include "exchange/controller/capi_controller.h"
#include "exchange/controller/controller_codes.h"
#include "exchange/controller/message_builder.h"

namespace tellmaro::exchange {

namespace {

using capi::Command;
using capi::Subcommand;

constexpr uint8_t kCalledTypeUnknown = 0x80;  // type and plan unknown

}  // namespace

// The first application listening for the call's service gets it.
std::optional<CallRef> CapiController::offerCall(const IncomingCall& incoming) {
    Application* target = nullptr;
    for (auto& [id, app] : applications_) {
        if (!app.dropped && app.listensFor(incoming.cip)) {
            target = &app;
            break;
        }
    }
    if (incoming.calling.digits.size() > CallingNumber::kMostDigits) {
        note("call not offered: a calling number of " +
             std::to_string(incoming.calling.digits.size()) + " digits");
        ++callsNotOffered_;
        return std::nullopt;
    }
    auto plci = target ? allocatePlci() : std::nullopt;
    if (!plci) {
        ++callsNotOffered_;
        return std::nullopt;
    }
    Call& call = newCall(*plci, target->id, Call::Kind::Incoming, Call::State::Offered);

    std::vector<uint8_t> called = {kCalledTypeUnknown};
    called.insert(called.end(), config_.lineNumber.begin(), config_.lineNumber.end());
    send(*target, MessageBuilder(Command::Connect, Subcommand::Ind,
                                 static_cast<uint16_t>(target->id), nextIndicationNumber(*target))
                      .dword(call.plci)
                      .word(incoming.cip)
                      .structure(called)
                      .structure(incoming.calling.encode())
                      // subaddresses, BC, LLC, HLC, additional info, second calling number
                      .emptyStructs(7)
                      .take());
    return call.ref();
}

void CapiController::farEndAnswered(CallRef ref) {
    Call* call = findCall(ref);
    if (call && (call->state == Call::State::Dialling || call->state == Call::State::Answering)) {
        connect(*call);
    }
}

void CapiController::farEndCleared(CallRef ref, uint16_t reason) {
    Call* call = findCall(ref);
    if (call && call->state != Call::State::Cleared) {
        clearCall(*call, reason, ClearedBy::Network);
    }
}

void CapiController::connect(Call& call) {
    call.state = Call::State::Active;
    Application& app = applications_.at(call.applId);
    send(app, MessageBuilder(Command::ConnectActive, Subcommand::Ind, static_cast<uint16_t>(app.id),
                             nextIndicationNumber(app))
                  .dword(call.plci)
                  .emptyStructs(3)  // connected number, connected subaddress, LLC
                  .take());
}

// B3 first, then the call; the PLCI stays until the application's DISCONNECT_RESP.
void CapiController::clearCall(Call& call, uint16_t reason, ClearedBy by) {
    if (call.ncci) {
        B3Connection& b3 = b3s_.at(*call.ncci);
        if (b3.state != B3Connection::State::Cleared) {
            clearB3(b3, by);
        }
    }
    Application& app = applications_.at(call.applId);
    supersedePending(app.id, static_cast<uint8_t>(Command::Connect), call.plci);
    call.state = Call::State::Cleared;
    call.clearedBy = by;
    call.holdsChannel = false;
    send(app, MessageBuilder(Command::Disconnect, Subcommand::Ind, static_cast<uint16_t>(app.id),
                             nextIndicationNumber(app))
                  .dword(call.plci)
                  .word(reason)
                  .take());
}

}  // namespace tellmaro::exchange
