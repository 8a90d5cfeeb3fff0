// The simulated network's timed events: what the parties and the exchange do
// when their time comes.
#include "exchange/controller/controller_codes.h"
#include "exchange/simulated/audio_block.h"
#include "exchange/simulated/simulated_network.h"

namespace tellmaro::exchange {

void SimulatedNetwork::on(event::PartyCalls& e) {
    Party& party = parties_.at(e.party);
    if (party.call) {
        note(party.number + " is in a call and cannot call the PC");
        return;
    }
    offerCall(party, e.options);
}

void SimulatedNetwork::on(event::PartyHangsUp& e) {
    partyHangsUp(parties_.at(e.party));
}

void SimulatedNetwork::on(event::PartyKeys& e) {
    pressKeys(parties_.at(e.party), e.keys);
}

void SimulatedNetwork::on(event::CallerGivesUp& e) {
    NetworkCall* call = findCall(e.call);
    if (call && call->phase == NetworkCall::Phase::Offered) {
        clearFromNetwork(e.call, PartyEvent::GaveUp, code::kNormalClearing);
    }
}

void SimulatedNetwork::on(event::PartyAnswers& e) {
    NetworkCall* call = findCall(e.call);
    if (!call || call->phase != NetworkCall::Phase::Dialling) {
        return;
    }
    if (Party* party = partyOf(*call)) {
        partyEvent(*party, PartyEvent::Connected);
    }
    talk(*call);
    controller_.farEndAnswered(e.call);
}

void SimulatedNetwork::on(event::HangUpAfterTalk& e) {
    NetworkCall* call = findCall(e.call);
    if (call && call->phase == NetworkCall::Phase::Active) {
        if (Party* party = partyOf(*call)) {
            partyHangsUp(*party);
        }
    }
}

void SimulatedNetwork::on(event::NetworkClears& e) {
    NetworkCall* call = findCall(e.call);
    if (!call || call->phase != NetworkCall::Phase::Dialling) {
        return;
    }
    clearFromNetwork(
        e.call, e.reason == code::kNoAnswer ? std::optional(PartyEvent::MissedCall) : std::nullopt,
        e.reason);
}

// Without keypad information before its deadline the seized line is cleared.
void SimulatedNetwork::on(event::SeizureWatch& e) {
    NetworkCall* call = findCall(e.call);
    if (!call || call->phase != NetworkCall::Phase::Seized) {
        return;
    }
    Ms deadline = call->lastKeypad + timing_.seizureTimeout;
    if (clock_.now() < deadline) {
        schedule_.at(deadline, e);
        return;
    }
    note("seized line timed out without keypad information");
    clearFromNetwork(e.call, std::nullopt, code::kTimerExpiry);
}

// Every block the far party speaks is numbered, also the ones the controller
// drops because the application has left its window of blocks unanswered.
void SimulatedNetwork::on(event::AudioBlock& e) {
    Party* party = partyOfMedia(e.b3);
    if (!party) {
        return;
    }
    uint32_t sequence = party->record.blocksSent++;
    controller_.audioFromFarEnd(e.b3, makeAudioBlock({party->id, sequence}));
    Media& media = media_.at(e.b3.serial);
    media.nextBlockAt += timing_.blockInterval;
    schedule_.at(media.nextBlockAt, event::AudioBlock{e.b3});
}

void SimulatedNetwork::on(event::ScriptedKeys& e) {
    if (Party* party = partyOfMedia(e.b3)) {
        pressKeys(*party, e.keys);
    }
}

}  // namespace tellmaro::exchange
