// What the PC does to the simulated network's calls, as the controller
// passes it on.
#include "exchange/simulated/simulated_network.h"

#include <variant>

#include "exchange/controller/controller_codes.h"
#include "exchange/simulated/audio_block.h"

namespace tellmaro::exchange {

SimulatedNetwork::SimulatedNetwork(const Clock& clock, LineTiming timing,
                                   ControllerPort& controller)
    : clock_(clock), timing_(timing), controller_(controller) {}

void SimulatedNetwork::runDueEvents() {
    while (auto event = schedule_.takeDue(clock_.now())) {
        std::visit([this](auto& e) { on(e); }, *event);
    }
}

void SimulatedNetwork::alert(CallRef ref) {
    NetworkCall* call = findCall(ref);
    if (Party* party = call ? partyOf(*call) : nullptr) {
        partyEvent(*party, PartyEvent::Ringing);
    }
}

bool SimulatedNetwork::accept(CallRef ref) {
    NetworkCall* call = findCall(ref);
    if (!call) {
        return true;
    }
    if (Party* party = partyOf(*call)) {
        partyEvent(*party, PartyEvent::Answered);
    }
    talk(*call);
    return true;  // an ISDN exchange connects the call with the answer
}

void SimulatedNetwork::refuse(CallRef ref, uint16_t) {
    endCall(ref, PartyEvent::Rejected);
}

// The network routes the dialled characters to the party whose number is
// their longest prefix: an exchange stops reading once a number is complete.
void SimulatedNetwork::dial(CallRef ref, std::string_view digits) {
    note("call dials " + std::string(digits));
    NetworkCall& call = newCall(ref, NetworkCall::Phase::Dialling);
    Ms failAt = clock_.now() + timing_.networkDelay;
    auto partyId = partyReachedBy(digits);
    if (!partyId || parties_[*partyId].behaviour.onCall == PartyBehaviour::OnCall::Unreachable) {
        return schedule_.at(failAt, event::NetworkClears{ref, code::kUnallocatedNumber});
    }
    Party& party = parties_[*partyId];
    if (party.behaviour.onCall == PartyBehaviour::OnCall::Busy || party.call) {
        partyEvent(party, PartyEvent::BusyCall);
        return schedule_.at(failAt, event::NetworkClears{ref, code::kUserBusy});
    }
    call.party = party.id;
    party.call = ref.serial;
    ++party.record.callsFromPc;
    partyEvent(party, PartyEvent::Called);
    const auto& behaviour = party.behaviour;
    if (behaviour.onCall == PartyBehaviour::OnCall::Answer && behaviour.acceptsCallBack &&
        behaviour.answerAfter < timing_.noAnswerTimeout) {
        schedule_.at(clock_.now() + behaviour.answerAfter, event::PartyAnswers{ref});
    }
    schedule_.at(clock_.now() + timing_.noAnswerTimeout,
                 event::NetworkClears{ref, code::kNoAnswer});
}

// The exchange waits for more digits only so long: keypad information
// restarts its timer (SeizureWatch).
void SimulatedNetwork::seize(CallRef ref) {
    newCall(ref, NetworkCall::Phase::Seized).lastKeypad = clock_.now();
    schedule_.at(clock_.now() + timing_.seizureTimeout, event::SeizureWatch{ref});
}

void SimulatedNetwork::keypad(CallRef ref, std::string_view) {
    NetworkCall* call = findCall(ref);
    if (call && call->phase == NetworkCall::Phase::Seized) {
        call->lastKeypad = clock_.now();
    }
}

void SimulatedNetwork::release(CallRef ref) {
    NetworkCall* call = findCall(ref);
    if (!call) {
        return;
    }
    switch (call->phase) {
        case NetworkCall::Phase::Offered:
            return endCall(ref, PartyEvent::Rejected);
        case NetworkCall::Phase::Dialling:
            return endCall(ref, PartyEvent::CancelledByPc);
        case NetworkCall::Phase::Active:
            return endCall(ref, PartyEvent::ClearedByPc);
        case NetworkCall::Phase::Seized:
            return endCall(ref, std::nullopt);
    }
}

// The first block is there once 256 ms of audio have come in; the party's
// scripted keys count from now too.
void SimulatedNetwork::mediaStarted(CallRef callRef, B3Ref ref) {
    Media& media = media_[ref.serial] =
        Media{ref, callRef.serial, clock_.now() + timing_.blockInterval};
    schedule_.at(media.nextBlockAt, event::AudioBlock{ref});
    NetworkCall* call = findCall(callRef);
    if (Party* party = call ? partyOf(*call) : nullptr) {
        for (const auto& press : party->behaviour.keys) {
            schedule_.at(clock_.now() + press.after, event::ScriptedKeys{ref, press.keys});
        }
    }
}

void SimulatedNetwork::mediaStopped(B3Ref ref) {
    media_.erase(ref.serial);
}

void SimulatedNetwork::audioToFarEnd(B3Ref ref, std::span<const uint8_t> block) {
    Party* party = partyOfMedia(ref);
    if (!party) {
        return;
    }
    ReceivedBlock received{clock_.now(), audioBlockHash(block), recogniseAudioBlock(block), {}};
    if (party->behaviour.keepReceivedAudio) {
        received.bytes.assign(block.begin(), block.end());
    }
    party->record.received.push_back(std::move(received));
}

}  // namespace tellmaro::exchange
