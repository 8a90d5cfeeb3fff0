#include "exchange/controller/clock.h"

namespace tellmaro::exchange {

void ManualClock::set(std::chrono::milliseconds time) {
    if (time > now_) {
        now_ = time;
    }
}

SteadyClock::SteadyClock() : origin_(std::chrono::steady_clock::now()) {}

std::chrono::milliseconds SteadyClock::now() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 origin_);
}

}  // namespace tellmaro::exchange
