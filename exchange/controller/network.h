#pragma once
// Between the CAPI controller and the network behind it. The controller tells
// the network what the applications ask of the far ends (Network); the
// network tells the controller what the far ends do (ControllerPort).
//
// Threading: the controller is single-threaded and driven by its owner; both
// interfaces are called on that thread only. Within a Network call the
// network at most writes to the trace (note); it reports what the far ends do
// later, from runDueEvents or from events its owner feeds in. A ControllerPort
// call may call the Network (clearing a call stops its media first). A
// network whose events arise on another thread (a SIP stack) queues them and
// has the owner feed them in on the controller's thread (RcapiServer::watch).
// Time comes only from the Clock both sides were given.
//
// Calls and B3 connections are named by CallRef and B3Ref: a PLCI or an NCCI
// can be reused by a later connection, the serial cannot, so a late event for
// an ended connection never reaches its successor.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tellmaro::exchange {

// Audio goes both ways in blocks of 2048 bytes: 256 ms of 8 kHz audio.
inline constexpr size_t kAudioBlockSize = 2048;

struct CallRef {
    uint32_t plci = 0;
    uint64_t serial = 0;
};

struct B3Ref {
    uint32_t ncci = 0;
    uint64_t serial = 0;
};

// The calling party number as the exchange presents it in CONNECT_IND.
struct CallingNumber {
    // What an ISDN exchange carries; a longer number is not offered at all.
    static constexpr size_t kMostDigits = 20;
    static constexpr uint8_t kTypeUnknown = 0x80;  // type and plan unknown, no octet 3a
    static constexpr uint8_t kTypeIsdn = 0x01;     // unknown type, ISDN plan, octet 3a follows
    static constexpr uint8_t kPresentationAllowed = 0x83;  // allowed, network provided
    static constexpr uint8_t kPresentationRestricted = 0xA3;

    std::optional<uint8_t> typeAndPlan;   // none: the structure is empty
    std::optional<uint8_t> presentation;  // octet 3a
    std::string digits;

    // The structure's content: type and plan, presentation, then the digits.
    std::vector<uint8_t> encode() const {
        std::vector<uint8_t> bytes;
        if (!typeAndPlan) {
            return bytes;
        }
        bytes.push_back(*typeAndPlan);
        if (presentation) {
            bytes.push_back(*presentation);
        }
        bytes.insert(bytes.end(), digits.begin(), digits.end());
        return bytes;
    }
};

struct IncomingCall {
    CallingNumber calling;
    uint16_t cip = 16;  // telephony
};

// What the controller asks of the network. The network answers later, if at
// all, through ControllerPort.
class Network {
  public:
    virtual ~Network() = default;

    // --- A call the network offered ------------------------------------------
    // ALERT_REQ: the PC lets the caller hear ringing.
    virtual void alert(CallRef call) = 0;
    // CONNECT_RESP with reject 0. True: the call is connected from now on.
    // False: the network confirms it later with farEndAnswered (a SIP caller's
    // ACK), or clears it.
    virtual bool accept(CallRef call) = 0;
    // CONNECT_RESP with a reject value (1 ignore, 2 normal clearing, 3 busy ...).
    virtual void refuse(CallRef call, uint16_t reject) = 0;

    // --- The PC's own calls ----------------------------------------------------
    // CONNECT_REQ with a called number. The network reports farEndAnswered or
    // farEndCleared with a Q.850 reason (0x3491 busy, 0x3481 unknown number).
    virtual void dial(CallRef call, std::string_view digits) = 0;
    // CONNECT_REQ without a called number: a line taken without dialling. The
    // network may clear it (a timer of the exchange) or keep it until released.
    virtual void seize(CallRef call) = 0;
    // INFO_REQ with keypad information on a seized line.
    virtual void keypad(CallRef call, std::string_view digits) = 0;

    // --- Any call ----------------------------------------------------------------
    // The PC let go of the call in whatever state (DISCONNECT_REQ, CONNECT_RESP
    // that could not be taken, release of its application): the network ends
    // its side and reports nothing more about it, nor about its B3 connection.
    virtual void release(CallRef call) = 0;

    // --- B3 connections: the media of a connected call ---------------------------
    virtual void mediaStarted(CallRef call, B3Ref media) = 0;
    virtual void mediaStopped(B3Ref media) = 0;
    // RESET_B3_REQ: the application starts the connection's data afresh.
    virtual void mediaReset(B3Ref) {}
    // FACILITY_REQ DTMF start or stop listen. The controller decides itself
    // whether keys reach the application; this only lets a network save work.
    virtual void listenForKeys(B3Ref media, bool listen) = 0;
    // A DATA_B3_REQ's block, at most kAudioBlockSize bytes.
    virtual void audioToFarEnd(B3Ref media, std::span<const uint8_t> block) = 0;

    // --- Time ----------------------------------------------------------------------
    // A network with timed events of its own tells the next one; the owner runs
    // them on the controller's thread once the clock has reached it.
    virtual std::optional<std::chrono::milliseconds> nextEventTime() const = 0;
    virtual void runDueEvents() = 0;
};

// What the network tells the controller. Calls naming a connection that has
// ended in between are ignored.
class ControllerPort {
  public:
    // A call for the PC; nothing when no application takes it (none listens
    // for its CIP value, or no PLCI is free).
    virtual std::optional<CallRef> offerCall(const IncomingCall& call) = 0;
    // The far end answered a call the PC dialled, or confirmed the PC's
    // answer to its own call (see Network::accept).
    virtual void farEndAnswered(CallRef call) = 0;
    // The far end or the network cleared the call; `reason` as in DISCONNECT_IND
    // (0x3490 normal clearing, 0x3491 busy ...).
    virtual void farEndCleared(CallRef call, uint16_t reason) = 0;
    // A block of the far end's audio, at most kAudioBlockSize bytes. False
    // when it did not reach the application: its window of unanswered blocks
    // was full (the block is dropped and counted), or the media has stopped.
    virtual bool audioFromFarEnd(B3Ref media, std::vector<uint8_t> block) = 0;
    // Keys pressed at the far end; false when nobody listened for them.
    virtual bool keysFromFarEnd(CallRef call, std::string_view keys) = 0;
    // A line for the trace: what the network or a far end did.
    virtual void note(const std::string& text) = 0;

  protected:
    ~ControllerPort() = default;
};

}  // namespace tellmaro::exchange
