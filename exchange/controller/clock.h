#pragma once
// Time for the controller and its network. They only ever ask a Clock, so
// tests run minutes of calls in virtual time and the servers in real time.

#include <chrono>

namespace tellmaro::exchange {

// Milliseconds since an arbitrary origin that never moves backwards.
class Clock {
  public:
    virtual ~Clock() = default;
    virtual std::chrono::milliseconds now() const = 0;
};

// Virtual time: stands still until a test moves it.
class ManualClock final : public Clock {
  public:
    explicit ManualClock(std::chrono::milliseconds start = std::chrono::milliseconds(0))
        : now_(start) {}

    std::chrono::milliseconds now() const override { return now_; }
    void advance(std::chrono::milliseconds step) { now_ += step; }
    // Moving to an earlier time is ignored: time never runs backwards.
    void set(std::chrono::milliseconds time);

  private:
    std::chrono::milliseconds now_;
};

// Real time for the server: monotonic, counted from the clock's creation.
class SteadyClock final : public Clock {
  public:
    SteadyClock();
    std::chrono::milliseconds now() const override;

  private:
    std::chrono::steady_clock::time_point origin_;
};

}  // namespace tellmaro::exchange
