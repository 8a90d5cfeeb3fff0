#pragma once
// The readable trace of a line: every message in both directions and what
// the network and the far ends did, each with its time.

#include <chrono>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

namespace tellmaro::exchange {

enum class TraceDirection {
    ToController,   // put by an application
    ToApplication,  // sent by the controller
    Note,           // a far end, the network, a fault or a violation
};

struct TraceEntry {
    std::chrono::milliseconds at{0};
    TraceDirection direction = TraceDirection::Note;
    uint32_t applId = 0;
    std::span<const uint8_t> message;  // empty for notes; valid during the call only
    std::string text;                  // describeMessage text, or the note
};

using TraceHook = std::function<void(const TraceEntry&)>;

// "   12.345 appl 1 -> CONNECT_REQ ..." for printing.
std::string formatTrace(const TraceEntry& entry);

}  // namespace tellmaro::exchange
