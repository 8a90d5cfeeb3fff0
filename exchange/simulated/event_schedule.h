#pragma once
// The simulated network's timed events, in time order; events due at the
// same time keep the order in which they were scheduled.

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <variant>

#include "exchange/controller/network.h"
#include "exchange/simulated/party.h"

namespace tellmaro::exchange {

namespace event {
struct PartyCalls {
    PartyId party;
    CallOptions options;
};
struct PartyHangsUp {
    PartyId party;
};
struct PartyKeys {
    PartyId party;
    std::string keys;
};
struct CallerGivesUp {
    CallRef call;
};
struct PartyAnswers {
    CallRef call;
};
struct HangUpAfterTalk {
    CallRef call;
};
struct NetworkClears {
    CallRef call;
    uint16_t reason;
};
struct SeizureWatch {
    CallRef call;
};
struct AudioBlock {
    B3Ref b3;
};
struct ScriptedKeys {
    B3Ref b3;
    std::string keys;
};
}  // namespace event

using LineEvent =
    std::variant<event::PartyCalls, event::PartyHangsUp, event::PartyKeys, event::CallerGivesUp,
                 event::PartyAnswers, event::HangUpAfterTalk, event::NetworkClears,
                 event::SeizureWatch, event::AudioBlock, event::ScriptedKeys>;

class EventSchedule {
  public:
    void at(std::chrono::milliseconds time, LineEvent event) {
        events_.emplace(time, std::move(event));
    }
    std::optional<std::chrono::milliseconds> next() const {
        if (events_.empty()) {
            return std::nullopt;
        }
        return events_.begin()->first;
    }
    // The earliest event due at `now`, taken out of the schedule.
    std::optional<LineEvent> takeDue(std::chrono::milliseconds now) {
        if (events_.empty() || events_.begin()->first > now) {
            return std::nullopt;
        }
        LineEvent event = std::move(events_.begin()->second);
        events_.erase(events_.begin());
        return event;
    }

  private:
    std::multimap<std::chrono::milliseconds, LineEvent> events_;
};

}  // namespace tellmaro::exchange
