// How calls between the PC and the parties are set up and cleared.
#include "capi/message_header.h"
#include "exchange/controller/capi_controller.h"
#include "exchange/controller/controller_codes.h"
#include "exchange/controller/message_builder.h"

namespace tellmaro::exchange {

namespace {

using capi::Command;
using capi::Subcommand;

constexpr uint8_t kTypeUnknown = 0x80;          // type and plan unknown, no octet 3a
constexpr uint8_t kTypeIsdn = 0x01;             // unknown type, ISDN plan, octet 3a follows
constexpr uint8_t kPresentationAllowed = 0x83;  // allowed, network provided
constexpr uint8_t kPresentationRestricted = 0xA3;

std::vector<uint8_t> callingNumber(CallerId callerId, const std::string& number) {
    switch (callerId) {
        case CallerId::Absent:
            return {};
        case CallerId::TypeOnly:
            return {kTypeUnknown};
        case CallerId::Restricted:
            return {kTypeIsdn, kPresentationRestricted};
        case CallerId::Number:
            break;
    }
    std::vector<uint8_t> bytes = {kTypeIsdn, kPresentationAllowed};
    bytes.insert(bytes.end(), number.begin(), number.end());
    return bytes;
}

}  // namespace

void LineSimulator::offerCall(Party& party, const CallOptions& options) {
    ++party.record.callsToPc;
    Application* target = nullptr;
    for (auto& [id, app] : applications_) {
        if (!app.dropped && app.listensFor(options.cip)) {
            target = &app;
            break;
        }
    }
    auto plci = target ? allocatePlci() : std::nullopt;
    if (!plci) {
        ++callsNotOffered_;
        partyEvent(party, PartyEvent::NotOffered);
        return;
    }
    Call& call = newCall(*plci, target->id, Call::Kind::Incoming, Call::State::Offered);
    call.party = party.id;
    party.plci = call.plci;
    party.callSerial = call.serial;

    std::vector<uint8_t> called = {kTypeUnknown};
    called.insert(called.end(), config_.lineNumber.begin(), config_.lineNumber.end());
    send(*target, MessageBuilder(Command::Connect, Subcommand::Ind,
                                 static_cast<uint16_t>(target->id), nextIndicationNumber(*target))
                      .dword(call.plci)
                      .word(options.cip)
                      .structure(called)
                      .structure(callingNumber(options.callerId, party.number))
                      // subaddresses, BC, LLC, HLC, additional info, second calling number
                      .emptyStructs(7)
                      .take());
    schedule_.at(clock_.now() + party.behaviour.ringTime.value_or(config_.timing.ringTime),
                 event::CallerGivesUp{{call.plci, call.serial}});
}

// The network routes the dialled characters to the party whose number is
// their longest prefix: an exchange stops reading once a number is complete.
void LineSimulator::dial(Call& call, std::string_view digits) {
    note("call dials " + std::string(digits));
    CallRef ref{call.plci, call.serial};
    Ms failAt = clock_.now() + config_.timing.networkDelay;
    auto partyId = partyReachedBy(digits);
    if (!partyId || parties_[*partyId].behaviour.onCall == PartyBehaviour::OnCall::Unreachable) {
        return schedule_.at(failAt, event::NetworkClears{ref, code::kUnallocatedNumber});
    }
    Party& party = parties_[*partyId];
    if (party.behaviour.onCall == PartyBehaviour::OnCall::Busy || party.plci) {
        partyEvent(party, PartyEvent::BusyCall);
        return schedule_.at(failAt, event::NetworkClears{ref, code::kUserBusy});
    }
    call.party = party.id;
    party.plci = call.plci;
    party.callSerial = call.serial;
    ++party.record.callsFromPc;
    partyEvent(party, PartyEvent::Called);
    const auto& behaviour = party.behaviour;
    if (behaviour.onCall == PartyBehaviour::OnCall::Answer && behaviour.acceptsCallBack &&
        behaviour.answerAfter < config_.timing.noAnswerTimeout) {
        schedule_.at(clock_.now() + behaviour.answerAfter, event::PartyAnswers{ref});
    }
    schedule_.at(clock_.now() + config_.timing.noAnswerTimeout,
                 event::NetworkClears{ref, code::kNoAnswer});
}

void LineSimulator::connect(Call& call) {
    call.state = Call::State::Active;
    Application& app = applications_.at(call.applId);
    send(app, MessageBuilder(Command::ConnectActive, Subcommand::Ind, static_cast<uint16_t>(app.id),
                             nextIndicationNumber(app))
                  .dword(call.plci)
                  .emptyStructs(3)  // connected number, connected subaddress, LLC
                  .take());
    Party* party = partyOf(call);
    if (party && party->behaviour.hangUpAfter) {
        schedule_.at(clock_.now() + *party->behaviour.hangUpAfter,
                     event::HangUpAfterTalk{{call.plci, call.serial}});
    }
}

// B3 first, then the call; the PLCI stays until the application's DISCONNECT_RESP.
void LineSimulator::clearCall(Call& call, uint16_t reason, ClearedBy by) {
    if (call.ncci) {
        B3Connection& b3 = b3s_.at(*call.ncci);
        if (b3.state != B3Connection::State::Cleared) {
            clearB3(b3, by);
        }
    }
    detachParty(call, std::nullopt);
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

void LineSimulator::clearB3(B3Connection& b3, ClearedBy by) {
    Application& app = applications_.at(b3.applId);
    supersedePending(app.id, static_cast<uint8_t>(Command::ConnectB3), b3.ncci);
    b3.state = B3Connection::State::Cleared;
    b3.clearedBy = by;
    send(app, MessageBuilder(Command::DisconnectB3, Subcommand::Ind, static_cast<uint16_t>(app.id),
                             nextIndicationNumber(app))
                  .dword(b3.ncci)
                  .word(0)          // Reason_B3: normal
                  .emptyStructs(1)  // NCPI
                  .take());
}

void LineSimulator::partyHangsUp(Party& party) {
    auto it = party.plci ? calls_.find(*party.plci) : calls_.end();
    if (it == calls_.end()) {
        note(party.number + " has no call to hang up");
        return;
    }
    Call& call = it->second;
    switch (call.state) {
        case Call::State::Offered:
            detachParty(call, PartyEvent::GaveUp);
            return clearCall(call, code::kNormalClearing, ClearedBy::Network);
        case Call::State::Dialling:
            detachParty(call, PartyEvent::DeclinedCall);
            return clearCall(call, code::kCallRejected, ClearedBy::Network);
        case Call::State::Active:
            ++party.record.hangUps;
            detachParty(call, PartyEvent::HungUp);
            return clearCall(call, code::kNormalClearing, ClearedBy::Network);
        default:
            return;
    }
}

void LineSimulator::detachParty(Call& call, std::optional<PartyEvent> event) {
    Party* party = partyOf(call);
    if (!party) {
        return;
    }
    party->plci.reset();
    if (event) {
        partyEvent(*party, *event);
    }
}

void LineSimulator::partyEvent(Party& party, PartyEvent event) {
    party.record.events.push_back({clock_.now(), event});
    note(party.number + ": " + partyEventName(event));
}

}  // namespace tellmaro::exchange
