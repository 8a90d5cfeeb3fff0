// Parties on the network, the calls they are in, and what tests and
// scenarios make them do.
#include "exchange/simulated/simulated_network.h"

namespace tellmaro::exchange {

PartyId SimulatedNetwork::addParty(std::string number, PartyBehaviour behaviour) {
    auto id = static_cast<PartyId>(parties_.size());
    Party& party = parties_.emplace_back();
    party.id = id;
    party.number = std::move(number);
    party.behaviour = std::move(behaviour);
    return id;
}

std::optional<PartyId> SimulatedNetwork::partyReachedBy(std::string_view dialled) const {
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

void SimulatedNetwork::callPcAt(Ms at, PartyId party, CallOptions options) {
    parties_.at(party);  // an unknown party fails here, not when its time comes
    schedule_.at(at, event::PartyCalls{party, options});
}

void SimulatedNetwork::hangUpAt(Ms at, PartyId party) {
    parties_.at(party);
    schedule_.at(at, event::PartyHangsUp{party});
}

void SimulatedNetwork::pressKeysAt(Ms at, PartyId party, std::string keys) {
    parties_.at(party);
    schedule_.at(at, event::PartyKeys{party, std::move(keys)});
}

void SimulatedNetwork::callPcNow(PartyId party, CallOptions options) {
    callPcAt(clock_.now(), party, options);
    runDueEvents();
}

void SimulatedNetwork::hangUpNow(PartyId party) {
    hangUpAt(clock_.now(), party);
    runDueEvents();
}

void SimulatedNetwork::pressKeysNow(PartyId party, std::string keys) {
    pressKeysAt(clock_.now(), party, std::move(keys));
    runDueEvents();
}

SimulatedNetwork::NetworkCall* SimulatedNetwork::findCall(CallRef ref) {
    auto it = calls_.find(ref.serial);
    return it != calls_.end() && it->second.ref.plci == ref.plci ? &it->second : nullptr;
}

SimulatedNetwork::NetworkCall* SimulatedNetwork::callOf(const Party& party) {
    auto it = party.call ? calls_.find(*party.call) : calls_.end();
    return it != calls_.end() ? &it->second : nullptr;
}

SimulatedNetwork::Party* SimulatedNetwork::partyOf(const NetworkCall& call) {
    if (!call.party) {
        return nullptr;
    }
    Party& party = parties_.at(*call.party);
    return party.call == call.ref.serial ? &party : nullptr;
}

// A B3 connection's far party, while its audio flows.
SimulatedNetwork::Party* SimulatedNetwork::partyOfMedia(B3Ref ref) {
    auto media = media_.find(ref.serial);
    if (media == media_.end()) {
        return nullptr;
    }
    auto call = calls_.find(media->second.call);
    return call != calls_.end() ? partyOf(call->second) : nullptr;
}

}  // namespace tellmaro::exchange
