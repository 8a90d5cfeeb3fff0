#include "shell/qt_timers.h"

#include "relay/timer_schedule.h"

namespace tellmaro::shell {

QtTimers::QtTimers(QObject* parent) : QObject(parent) {
    for (size_t i = 0; i < timers_.size(); ++i) {
        auto id = static_cast<relay::TimerId>(i);
        QTimer& timer = timers_[i];
        timer.setInterval(relay::TimerSchedule::interval(id));
        timer.setTimerType(Qt::PreciseTimer);
        connect(&timer, &QTimer::timeout, this, [this, id] {
            if (tick_) {
                tick_(id);
            }
        });
    }
}

void QtTimers::setTimerEnabled(relay::TimerId timer, bool enabled) {
    QTimer& t = timers_[static_cast<size_t>(timer)];
    // Enabling a running timer must not restart its period.
    if (enabled && !t.isActive()) {
        t.start();
    } else if (!enabled) {
        t.stop();
    }
}

bool QtTimers::timerEnabled(relay::TimerId timer) const {
    return timers_[static_cast<size_t>(timer)].isActive();
}

}  // namespace tellmaro::shell
