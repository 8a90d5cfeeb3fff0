#pragma once
// A simulated telephone on the network: how it behaves when the PC calls it,
// how it calls the PC, and the record of everything it heard.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "exchange/simulated/audio_block.h"

namespace tellmaro::exchange {

using PartyId = uint32_t;

struct KeyPress {
    std::chrono::milliseconds after{0};  // after its B3 connection came up
    std::string keys;                    // arrive in one indication
};

struct PartyBehaviour {
    enum class OnCall {
        Answer,       // answers after `answerAfter`
        Busy,         // user busy
        Unreachable,  // fails as an unknown number does
        NoAnswer,     // rings until the network gives up
    };

    OnCall onCall = OnCall::Answer;
    std::chrono::milliseconds answerAfter{2000};
    // Hangs up this long after a call with the PC has connected.
    std::optional<std::chrono::milliseconds> hangUpAfter;
    // False: never answers the PC's calls; its own calls are unaffected.
    bool acceptsCallBack = true;
    std::vector<KeyPress> keys;
    // How long its own calls ring before it gives up; the line's default otherwise.
    std::optional<std::chrono::milliseconds> ringTime;
    // Keep every received block's bytes, not only its summary.
    bool keepReceivedAudio = false;
};

// How the party's number reaches the PC in CONNECT_IND.
enum class CallerId {
    Number,      // type, presentation allowed, the digits
    Absent,      // structure of length 0
    TypeOnly,    // length 1: type of number only
    Restricted,  // length 2: type and "presentation restricted", no digits
};

struct CallOptions {
    uint16_t cip = 16;  // telephony
    CallerId callerId = CallerId::Number;
};

// What happened to the party, in the order it happened.
enum class PartyEvent {
    NotOffered,     // its call to the PC found no application listening
    Ringing,        // the PC alerted its call
    Answered,       // the PC took its call
    Rejected,       // the PC refused its call (or could not take it)
    GaveUp,         // it stopped calling the PC before an answer
    Called,         // a call from the PC rang at the party
    BusyCall,       // a call from the PC found it busy
    Connected,      // it answered the PC's call
    MissedCall,     // the PC's call rang until the network gave up
    CancelledByPc,  // the PC stopped calling before the party answered
    DeclinedCall,   // it refused the PC's call while it rang
    HungUp,         // it ended a connected call
    ClearedByPc,    // the PC ended a connected call
};

const char* partyEventName(PartyEvent event);

struct PartyEventRecord {
    std::chrono::milliseconds at{0};
    PartyEvent event = PartyEvent::Called;
};

struct ReceivedBlock {
    std::chrono::milliseconds at{0};
    uint64_t hash = 0;
    BlockOrigin origin;
    std::vector<uint8_t> bytes;  // only when the party keeps received audio
};

struct PartyRecord {
    std::vector<PartyEventRecord> events;
    std::vector<ReceivedBlock> received;
    uint32_t blocksSent = 0;  // numbered blocks 0 .. blocksSent-1, dropped ones included
    uint32_t callsToPc = 0;
    uint32_t callsFromPc = 0;
    uint32_t hangUps = 0;
    std::string keysPressed;
    std::string keysDelivered;  // reached the application as FACILITY_IND
    std::string keysUnheard;    // pressed while nobody listened for DTMF

    size_t count(PartyEvent event) const;
    bool heard(PartyEvent event) const { return count(event) > 0; }
};

// Whether the blocks a listener received from one speaker arrived each once,
// in order and unaltered: a gap-free run of sequence numbers.
struct HeardCheck {
    size_t blocks = 0;
    uint32_t first = 0;
    uint32_t last = 0;
    size_t missing = 0;    // numbers skipped inside the run
    size_t repeated = 0;   // numbers received again
    size_t reordered = 0;  // numbers lower than one received before
    size_t damaged = 0;

    bool ok() const {
        return blocks > 0 && missing == 0 && repeated == 0 && reordered == 0 && damaged == 0;
    }
    std::string describe() const;
};

HeardCheck checkHeard(const PartyRecord& listener, PartyId speaker);

// The hashes of the received blocks that carry no number, in arrival order
// (for instance the prompts the PC played).
std::vector<uint64_t> unnumberedHashes(const PartyRecord& listener);

}  // namespace tellmaro::exchange
