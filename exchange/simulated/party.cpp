#include "exchange/simulated/party.h"

#include <algorithm>

namespace tellmaro::exchange {

const char* partyEventName(PartyEvent event) {
    switch (event) {
        case PartyEvent::NotOffered:
            return "call not offered";
        case PartyEvent::Ringing:
            return "hears ringing";
        case PartyEvent::Answered:
            return "call answered";
        case PartyEvent::Rejected:
            return "call rejected";
        case PartyEvent::GaveUp:
            return "gave up calling";
        case PartyEvent::Called:
            return "rings";
        case PartyEvent::BusyCall:
            return "called while busy";
        case PartyEvent::Connected:
            return "answered";
        case PartyEvent::MissedCall:
            return "missed a call";
        case PartyEvent::CancelledByPc:
            return "call cancelled by the PC";
        case PartyEvent::DeclinedCall:
            return "declined a call";
        case PartyEvent::HungUp:
            return "hung up";
        case PartyEvent::ClearedByPc:
            return "the PC hung up";
    }
    return "?";
}

size_t PartyRecord::count(PartyEvent event) const {
    return static_cast<size_t>(std::count_if(events.begin(), events.end(),
                                             [&](const auto& e) { return e.event == event; }));
}

std::string HeardCheck::describe() const {
    if (blocks == 0) {
        return "no blocks";
    }
    return std::to_string(blocks) + " blocks, numbers " + std::to_string(first) + " to " +
           std::to_string(last) + ", " + std::to_string(missing) + " missing, " +
           std::to_string(repeated) + " repeated, " + std::to_string(reordered) + " reordered, " +
           std::to_string(damaged) + " damaged";
}

HeardCheck checkHeard(const PartyRecord& listener, PartyId speaker) {
    HeardCheck check;
    std::optional<uint32_t> highest;
    for (const auto& block : listener.received) {
        if (!block.origin.id || block.origin.id->party != speaker) {
            continue;
        }
        uint32_t sequence = block.origin.id->sequence;
        if (block.origin.damaged) {
            ++check.damaged;
        }
        if (check.blocks == 0) {
            check.first = sequence;
        }
        ++check.blocks;
        if (!highest) {
            highest = sequence;
        } else if (sequence == *highest) {
            ++check.repeated;
        } else if (sequence < *highest) {
            ++check.reordered;
        } else {
            check.missing += sequence - *highest - 1;
            highest = sequence;
        }
    }
    check.last = highest.value_or(0);
    return check;
}

std::vector<uint64_t> unnumberedHashes(const PartyRecord& listener) {
    std::vector<uint64_t> hashes;
    for (const auto& block : listener.received) {
        if (!block.origin.id) {
            hashes.push_back(block.hash);
        }
    }
    return hashes;
}

}  // namespace tellmaro::exchange
