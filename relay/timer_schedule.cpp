#include "relay/timer_schedule.h"

namespace tellmaro::relay {

using std::chrono::milliseconds;

milliseconds TimerSchedule::interval(TimerId timer) {
    switch (timer) {
        case TimerId::Timer1:
            return milliseconds(10);
        case TimerId::Timer2:
            return milliseconds(8000);
        case TimerId::Timer3:
        case TimerId::Timer4:
            return milliseconds(100);
    }
    return milliseconds(10);
}

void TimerSchedule::setTimerEnabled(TimerId timer, bool enabled) {
    State& state = timers_[static_cast<size_t>(timer)];
    // Enabling a running timer does not restart its period.
    if (enabled && !state.enabled) {
        state.due = now_() + interval(timer);
    }
    state.enabled = enabled;
}

bool TimerSchedule::timerEnabled(TimerId timer) const {
    return timers_[static_cast<size_t>(timer)].enabled;
}

std::optional<milliseconds> TimerSchedule::nextDue() const {
    std::optional<milliseconds> next;
    for (const auto& state : timers_) {
        if (state.enabled && (!next || state.due < *next)) {
            next = state.due;
        }
    }
    return next;
}

std::optional<milliseconds> TimerSchedule::dueAt(TimerId timer) const {
    const State& state = timers_[static_cast<size_t>(timer)];
    return state.enabled ? std::optional(state.due) : std::nullopt;
}

}  // namespace tellmaro::relay
