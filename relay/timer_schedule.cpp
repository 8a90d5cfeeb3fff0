#include "relay/timer_schedule.h"

namespace tellmaro::relay {

using std::chrono::milliseconds;

milliseconds TimerSchedule::interval(TimerId timer) {
    switch (timer) {
        case TimerId::DispatcherPoll:
            return milliseconds(10);
        case TimerId::KeepAlive:
            return milliseconds(8000);
        case TimerId::PlaceCall:
        case TimerId::SeizeAgain:
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

}  // namespace tellmaro::relay
