#pragma once
// The main window's timers as a schedule: fixed intervals, an enabled flag
// each, and the ticks that are due. Hosts without a window system (the
// console program, the tests) drive the engine from it with a real or a
// virtual clock.

#include <array>
#include <chrono>
#include <functional>
#include <optional>
#include <vector>

#include "relay/engine_ports.h"

namespace tellmaro::relay {

class TimerSchedule final : public Timers {
  public:
    using Now = std::function<std::chrono::milliseconds()>;
    explicit TimerSchedule(Now now) : now_(std::move(now)) {}

    void setTimerEnabled(TimerId timer, bool enabled) override;
    bool timerEnabled(TimerId timer) const override;

    // When the next enabled timer fires.
    std::optional<std::chrono::milliseconds> nextDue() const;
    // The timers due now, in the order a window system fires them; each is
    // rescheduled one interval on.
    std::vector<TimerId> takeDue();

    static std::chrono::milliseconds interval(TimerId timer);

  private:
    struct State {
        bool enabled = false;
        std::chrono::milliseconds due{0};
    };

    Now now_;
    std::array<State, 4> timers_{};
};

}  // namespace tellmaro::relay
