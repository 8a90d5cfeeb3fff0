// Parties on the network and what tests and scenarios make them do.
#include "exchange/controller/capi_controller.h"

namespace tellmaro::exchange {

PartyId LineSimulator::addParty(std::string number, PartyBehaviour behaviour) {
    auto id = static_cast<PartyId>(parties_.size());
    Party& party = parties_.emplace_back();
    party.id = id;
    party.number = std::move(number);
    party.behaviour = std::move(behaviour);
    return id;
}

std::optional<PartyId> LineSimulator::partyReachedBy(std::string_view dialled) const {
    std::optional<PartyId> best;
    size_t bestLength = 0;
    for (const Party& party : parties_) {
        if (party.number.size() > bestLength && dialled.starts_with(party.number)) {
            best = party.id;
            bestLength = party.number.size();
        }
    }
    return best;
}

void LineSimulator::callPcAt(Ms at, PartyId party, CallOptions options) {
    parties_.at(party);  // an unknown party fails here, not when its time comes
    schedule_.at(at, event::PartyCalls{party, options});
}

void LineSimulator::hangUpAt(Ms at, PartyId party) {
    parties_.at(party);
    schedule_.at(at, event::PartyHangsUp{party});
}

void LineSimulator::pressKeysAt(Ms at, PartyId party, std::string keys) {
    parties_.at(party);
    schedule_.at(at, event::PartyKeys{party, std::move(keys)});
}

void LineSimulator::callPcNow(PartyId party, CallOptions options) {
    callPcAt(clock_.now(), party, options);
    runDueEvents();
}

void LineSimulator::hangUpNow(PartyId party) {
    hangUpAt(clock_.now(), party);
    runDueEvents();
}

void LineSimulator::pressKeysNow(PartyId party, std::string keys) {
    pressKeysAt(clock_.now(), party, std::move(keys));
    runDueEvents();
}

}  // namespace tellmaro::exchange
