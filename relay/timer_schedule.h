#pragma once
// The main window's timers as a schedule: fixed intervals, an enabled flag
// each, and the ticks that are due. Hosts without a window system (the
// console program, the tests) drive the engine from it with a real or a
// virtual clock.

#include <algorithm>
#include <array>
#include <chrono>
#include <functional>
#include <optional>

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
    // Calls `fire` for each timer due now, in the order a window system
    // fires them; each is rescheduled one interval on first, so `fire` may
    // switch timers. Allocates nothing: it runs on every 10 ms tick.
    template <typename Fire>
    void fireDue(Fire&& fire) {
        std::chrono::milliseconds now = now_();
        for (size_t i = 0; i < timers_.size(); ++i) {
            if (timers_[i].enabled && timers_[i].due <= now) {
                auto timer = static_cast<TimerId>(i);
                // A late host catches up without firing a burst of ticks.
                timers_[i].due = std::max(timers_[i].due + interval(timer), now);
                fire(timer);
            }
        }
    }

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
