// How the simulated exchange offers calls to the PC, connects and clears
// them, and what the parties on them do.
#include "exchange/controller/controller_codes.h"
#include "exchange/simulated/simulated_network.h"

namespace tellmaro::exchange {

namespace {

CallingNumber callingNumber(CallerId callerId, const std::string& number) {
    switch (callerId) {
        case CallerId::Absent:
            return {};
        case CallerId::TypeOnly:
            return {CallingNumber::kTypeUnknown, std::nullopt, {}};
        case CallerId::Restricted:
            return {CallingNumber::kTypeIsdn, CallingNumber::kPresentationRestricted, {}};
        case CallerId::Number:
            break;
    }
    return {CallingNumber::kTypeIsdn, CallingNumber::kPresentationAllowed, number};
}

}  // namespace

void SimulatedNetwork::offerCall(Party& party, const CallOptions& options) {
    ++party.record.callsToPc;
    auto ref = controller_.offerCall({callingNumber(options.callerId, party.number), options.cip});
    if (!ref) {
        partyEvent(party, PartyEvent::NotOffered);
        return;
    }
    newCall(*ref, NetworkCall::Phase::Offered).party = party.id;
    party.call = ref->serial;
    schedule_.at(clock_.now() + party.behaviour.ringTime.value_or(timing_.ringTime),
                 event::CallerGivesUp{*ref});
}

SimulatedNetwork::NetworkCall& SimulatedNetwork::newCall(CallRef ref, NetworkCall::Phase phase) {
    NetworkCall& call = calls_[ref.serial];
    call = NetworkCall{};
    call.ref = ref;
    call.phase = phase;
    return call;
}

void SimulatedNetwork::talk(NetworkCall& call) {
    call.phase = NetworkCall::Phase::Active;
    Party* party = partyOf(call);
    if (party && party->behaviour.hangUpAfter) {
        schedule_.at(clock_.now() + *party->behaviour.hangUpAfter,
                     event::HangUpAfterTalk{call.ref});
    }
}

void SimulatedNetwork::endCall(CallRef ref, std::optional<PartyEvent> event) {
    auto it = calls_.find(ref.serial);
    if (it == calls_.end()) {
        return;
    }
    Party* party = partyOf(it->second);
    calls_.erase(it);
    std::erase_if(media_, [&](const auto& media) { return media.second.call == ref.serial; });
    if (!party) {
        return;
    }
    party->call.reset();
    if (event) {
        partyEvent(*party, *event);
    }
}

void SimulatedNetwork::clearFromNetwork(CallRef ref, std::optional<PartyEvent> event,
                                        uint16_t reason) {
    endCall(ref, event);
    controller_.farEndCleared(ref, reason);
}

void SimulatedNetwork::partyHangsUp(Party& party) {
    NetworkCall* call = callOf(party);
    if (!call) {
        note(party.number + " has no call to hang up");
        return;
    }
    switch (call->phase) {
        case NetworkCall::Phase::Offered:
            return clearFromNetwork(call->ref, PartyEvent::GaveUp, code::kNormalClearing);
        case NetworkCall::Phase::Dialling:
            return clearFromNetwork(call->ref, PartyEvent::DeclinedCall, code::kCallRejected);
        case NetworkCall::Phase::Active:
            ++party.record.hangUps;
            return clearFromNetwork(call->ref, PartyEvent::HungUp, code::kNormalClearing);
        case NetworkCall::Phase::Seized:
            return;
    }
}

void SimulatedNetwork::pressKeys(Party& party, const std::string& keys) {
    party.record.keysPressed += keys;
    NetworkCall* call = callOf(party);
    if (!call || !controller_.keysFromFarEnd(call->ref, keys)) {
        party.record.keysUnheard += keys;
        note(party.number + " keys " + keys + " unheard");
        return;
    }
    party.record.keysDelivered += keys;
}

void SimulatedNetwork::partyEvent(Party& party, PartyEvent event) {
    party.record.events.push_back({clock_.now(), event});
    note(party.number + ": " + partyEventName(event));
}

}  // namespace tellmaro::exchange
