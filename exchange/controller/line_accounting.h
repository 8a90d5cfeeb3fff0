#pragma once
// What tests ask of the line after a run: the connections left, the
// indications still or never answered, every protocol violation, lost audio.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tellmaro::exchange {

struct IndicationRecord {
    std::chrono::milliseconds at{0};  // when the controller sent it
    uint32_t applId = 0;
    uint8_t command = 0;
    uint32_t address = 0;  // PLCI or NCCI
    std::string message;   // describeMessage text
};

enum class ViolationKind {
    UnknownApplication,  // not registered, or a header ApplID of another application
    MalformedMessage,    // too short, Length beyond the bytes, unknown command, wrong direction
    BadCoding,           // a parameter or a structure that does not fit, or an invalid value
    WrongState,          // not allowed in the state of its connection
    UnknownAddress,      // no such controller, PLCI or NCCI
    ForeignAddress,      // the PLCI or NCCI of another application
    Unsupported,         // a protocol, facility, function or length the line does not offer
    NoChannel,           // a connection that needs a B channel while none is free
    UnexpectedResponse,  // a response that answers no outstanding indication
    UnknownDataHandle,   // DATA_B3_RESP for a block that is not outstanding
};

struct Violation {
    std::chrono::milliseconds at{0};
    uint32_t applId = 0;
    ViolationKind kind = ViolationKind::MalformedMessage;
    uint32_t answer = 0;  // the put result or confirmation Info; 0 when ignored
    std::string detail;
    std::string message;  // describeMessage text of the offending message
};

struct LineAccounting {
    size_t applications = 0;
    size_t livePlcis = 0;
    size_t liveNccis = 0;
    size_t busyChannels = 0;
    size_t unansweredDataB3Inds = 0;
    std::vector<IndicationRecord> unanswered;     // sent and not answered yet
    std::vector<IndicationRecord> neverAnswered;  // their connection ended first
    std::vector<Violation> violations;
    uint64_t droppedAudioBlocks = 0;  // a connection had its 7 blocks unanswered
    uint64_t callsNotOffered = 0;     // nobody listened, or the calling number was too long
    uint64_t droppedKeys = 0;         // the application left too many keys unanswered
    // Requests that met an indication already on its way (the far end cleared
    // first): refused as a controller does, but no fault of the application.
    uint64_t crossings = 0;
    uint64_t refusedDataB3Reqs = 0;  // by a scripted fault
    uint64_t indicationsDiscardedByRelease = 0;
    // Blocks and CONNECT_ACTIVE_INDs left unanswered when their connection was
    // released, which closes them.
    uint64_t indicationsClosedByRelease = 0;

    bool idle() const { return livePlcis == 0 && liveNccis == 0; }
    bool clean() const { return violations.empty() && neverAnswered.empty() && unanswered.empty(); }
};

const char* violationKindName(ViolationKind kind);

}  // namespace tellmaro::exchange
