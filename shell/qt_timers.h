#pragma once
// The main window's timers as QTimers with the fixed intervals; each tick
// goes to the engine.

#include <QObject>
#include <QTimer>
#include <array>
#include <functional>

#include "relay/engine_ports.h"

namespace tellmaro::shell {

class QtTimers final : public QObject, public relay::Timers {
  public:
    explicit QtTimers(QObject* parent = nullptr);

    // Where the ticks go; set once the engine exists.
    void onTick(std::function<void(relay::TimerId)> tick) { tick_ = std::move(tick); }

    void setTimerEnabled(relay::TimerId timer, bool enabled) override;
    bool timerEnabled(relay::TimerId timer) const override;

  private:
    std::array<QTimer, 4> timers_;
    std::function<void(relay::TimerId)> tick_;
};

}  // namespace tellmaro::shell
