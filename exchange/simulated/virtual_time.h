#pragma once
// Running the line in virtual time: the clock jumps from one due event to
// the next, so minutes of calls take milliseconds.

#include <chrono>
#include <optional>

#include "exchange/controller/clock.h"
#include "exchange/simulated/line_simulator.h"

namespace tellmaro::exchange {

// Runs every event up to and including `until`, each at its own time, and
// leaves the clock at `until`.
inline void runLineUntil(LineSimulator& line, ManualClock& clock, std::chrono::milliseconds until) {
    while (auto next = line.nextEventTime()) {
        if (*next > until) {
            break;
        }
        clock.set(*next);
        line.runDueEvents();
    }
    clock.set(until);
    line.runDueEvents();
}

// The next moment anything happens: a line event or `hostDue` (the next
// timer of whoever drives the line), but not later than `end`.
inline std::chrono::milliseconds nextMoment(const LineSimulator& line,
                                            std::optional<std::chrono::milliseconds> hostDue,
                                            std::chrono::milliseconds end) {
    std::chrono::milliseconds next = end;
    if (hostDue && *hostDue < next) {
        next = *hostDue;
    }
    if (auto event = line.nextEventTime(); event && *event < next) {
        next = *event;
    }
    return next;
}

}  // namespace tellmaro::exchange
