// The line's timed events: what the parties and the network do when their time comes.
#include "exchange/controller/capi_controller.h"
#include "exchange/controller/controller_codes.h"

namespace tellmaro::exchange {

void LineSimulator::on(event::PartyCalls& e) {
    Party& party = parties_.at(e.party);
    if (party.plci) {
        note(party.number + " is in a call and cannot call the PC");
        return;
    }
    offerCall(party, e.options);
}

void LineSimulator::on(event::PartyHangsUp& e) {
    partyHangsUp(parties_.at(e.party));
}

void LineSimulator::on(event::PartyKeys& e) {
    pressKeys(parties_.at(e.party), e.keys);
}

void LineSimulator::on(event::CallerGivesUp& e) {
    Call* call = findCall(e.call);
    if (call && call->state == Call::State::Offered) {
        detachParty(*call, PartyEvent::GaveUp);
        clearCall(*call, code::kNormalClearing, ClearedBy::Network);
    }
}

void LineSimulator::on(event::PartyAnswers& e) {
    Call* call = findCall(e.call);
    if (!call || call->state != Call::State::Dialling) {
        return;
    }
    if (Party* party = partyOf(*call)) {
        partyEvent(*party, PartyEvent::Connected);
    }
    connect(*call);
}

void LineSimulator::on(event::HangUpAfterTalk& e) {
    Call* call = findCall(e.call);
    if (call && call->state == Call::State::Active) {
        if (Party* party = partyOf(*call)) {
            partyHangsUp(*party);
        }
    }
}

void LineSimulator::on(event::NetworkClears& e) {
    Call* call = findCall(e.call);
    if (!call || call->state != Call::State::Dialling) {
        return;
    }
    detachParty(*call,
                e.reason == code::kNoAnswer ? std::optional(PartyEvent::MissedCall) : std::nullopt);
    clearCall(*call, e.reason, ClearedBy::Network);
}

// The exchange waits for more digits only so long: keypad information
// restarts its timer, and without it the seized line is cleared.
void LineSimulator::on(event::SeizureWatch& e) {
    Call* call = findCall(e.call);
    if (!call || call->state != Call::State::Seized) {
        return;
    }
    Ms deadline = call->lastKeypad + config_.timing.seizureTimeout;
    if (clock_.now() < deadline) {
        schedule_.at(deadline, e);
        return;
    }
    note("seized line timed out without keypad information");
    clearCall(*call, code::kTimerExpiry, ClearedBy::Network);
}

void LineSimulator::on(event::AudioBlock& e) {
    B3Connection* b3 = findB3(e.b3);
    if (b3 && b3->state == B3Connection::State::Active) {
        sendAudioBlock(*b3);
    }
}

void LineSimulator::on(event::ScriptedKeys& e) {
    B3Connection* b3 = findB3(e.b3);
    if (!b3 || b3->state != B3Connection::State::Active) {
        return;
    }
    if (Party* party = partyOf(calls_.at(b3->plci))) {
        pressKeys(*party, e.keys);
    }
}

}  // namespace tellmaro::exchange
