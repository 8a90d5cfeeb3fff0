#pragma once
// What the SIP line reports to its user: registration, calls, audio, keys.

#include <array>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace tellmaro::sip {

using CallId = uint32_t;                    // 0 is never a call
inline constexpr size_t kBlockSize = 2048;  // CAPI-side audio block: 256 ms of A-law
using Block = std::array<uint8_t, kBlockSize>;

enum class RegistrationState { Registering, Registered, Failed, Unregistered };

struct RegistrationChanged {
    RegistrationState state = RegistrationState::Registering;
    std::string reason;  // plain words, e.g. "200 OK" or "no answer from 10.0.0.1:5060"
    // Once registered, one line each of what `--check` shows of the
    // connection: transport, TLS version and cipher, the server's certificate.
    std::vector<std::string> facts;
    std::string seenAt;  // where the registrar last said it sees us ("198.51.100.7:40123")
};

// How an ISDN exchange presents a calling number.
enum class NumberType { Unknown, National, International };
enum class Presentation { Allowed, Restricted };

struct CallingParty {
    NumberType type = NumberType::Unknown;
    Presentation presentation = Presentation::Allowed;
    std::string digits;  // without any prefix; empty when restricted or not a number
    // From P-Asserted-Identity, which the network vouches for; From is only
    // what the caller says.
    bool networkProvided = false;
    bool operator==(const CallingParty&) const = default;
};

struct IncomingCall {
    CallId id = 0;
    CallingParty calling;
    std::string called;  // the user part of the request URI
};

struct Alerting {  // 180 received
    CallId id = 0;
};
struct Progress {  // 183 received (in-band information may follow)
    CallId id = 0;
};
struct Answered {
    CallId id = 0;
};

// The figures of a call's audio, reported when it ends.
struct AudioCounters {
    uint64_t framesReceived = 0;
    uint64_t framesSent = 0;
    uint64_t underruns = 0;       // send ticks that found less than a frame while playing
    uint64_t bytesDropped = 0;    // oldest send bytes dropped beyond the bound (clock drift)
    uint64_t timestampGaps = 0;   // received RTP with a jump in time, filled with silence
    uint64_t lostPackets = 0;     // sequence numbers never received
    uint64_t latePackets = 0;     // too late or duplicated, dropped
    uint64_t blocksDropped = 0;   // received blocks dropped because nobody took them
    uint64_t foreignPackets = 0;  // RTP not from the call's peer, or before it connected
};

struct Ended {
    CallId id = 0;
    uint8_t cause = 16;      // Q.850; the CAPI reason is 0x3400 | cause
    uint16_t sipStatus = 0;  // final response that ended it, 0 if none (BYE, CANCEL, local)
    std::string reason;      // plain words
    AudioCounters audio;
};

struct AudioBlock {
    CallId id = 0;
    Block bytes{};  // A-law in CAPI bit order
};

struct Dtmf {
    CallId id = 0;
    char key = 0;  // '0'-'9', '*', '#', 'A'-'D'
};

using SipEvent = std::variant<RegistrationChanged, IncomingCall, Alerting, Progress, Answered,
                              Ended, AudioBlock, Dtmf>;

}  // namespace tellmaro::sip
